#pragma once

#include <unistd.h>
#include <utility>

// Owns a POSIX file descriptor and closes it on every way out of a scope. Plain C++ (no
// Qt), so the CRC library can use it too.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() {
        // Reached only on paths that already failed or already have their result;
        // a failure of this close cannot change them.
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        UniqueFd old(std::exchange(m_fd, other.release()));
        return *this;
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Gives up ownership: the caller closes the descriptor.
    int release() { return std::exchange(m_fd, -1); }
    // Closes now, so the caller sees a failure that only the close reveals (a write
    // the file system refused late).
    int close() { return ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd;
};
