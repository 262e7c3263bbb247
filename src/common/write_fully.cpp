#include "common/write_fully.h"

#include <cerrno>
#include <unistd.h>

int WriteFully(int fd, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;  // nothing taken and no reason given: going on would never end
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}
