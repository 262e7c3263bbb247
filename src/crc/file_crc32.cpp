// FileCrc32: the CRC-32 of a whole file or of a span of it, read in bounded chunks
// through one buffer.
#include "crc/crc32.h"
#include "common/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that the read calls cost little, small enough to stay in the cache
// between the read and the CRC pass, and memory stays flat whatever the file size.
constexpr std::size_t kChunkSize = 1u << 20;

// Fills the whole buffer unless the file ends first; false on a read error. From the
// file's position when offset is -1, else from offset on (the position untouched).
bool readFully(int fd, off_t offset, unsigned char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = offset < 0 ? ::read(fd, buffer + got, size - got)
                                     : ::pread(fd, buffer + got, size - got, offset + off_t(got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The CRC-32 of `total` bytes read as readFully reads them; false when fewer are there.
bool spanCrc32(int fd, off_t offset, uint64_t total, uint32_t& crc, const FileCrc32Progress& progress) {
    auto remaining = total;
    uint32_t reg = 0xFFFFFFFFu;
    if (remaining > 0) {
        const std::size_t bufferSize = remaining < kChunkSize ? static_cast<std::size_t>(remaining) : kChunkSize;
        std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[bufferSize]);
        if (!buffer)
            return false;
        while (remaining > 0) {
            const std::size_t want = remaining < bufferSize ? static_cast<std::size_t>(remaining) : bufferSize;
            std::size_t got = 0;
            if (!readFully(fd, offset < 0 ? -1 : offset + off_t(total - remaining), buffer.get(), want, got) ||
                got != want)
                return false;
            reg = Crc32Update(reg, buffer.get(), got);
            remaining -= got;
            if (progress)
                progress(total - remaining, total);
        }
    }
    if (total == 0 && progress)
        progress(0, 0);
    crc = ~reg;
    return true;
}

}  // namespace

bool FileCrc32(const std::filesystem::path& path, uint32_t& crc, const FileCrc32Progress& progress) {
    // O_NONBLOCK: opening a FIFO must not hang waiting for a writer; a plain read-only
    // open takes no lock, so a writer of the same file is not shut out.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return file.get() >= 0 && DescriptorCrc32(file.get(), crc, progress);
}

bool DescriptorCrc32(int fd, uint32_t& crc, const FileCrc32Progress& progress) {
    struct stat info {};
    // Only a regular file has a size to check the read against; a directory, FIFO or
    // device is "cannot be sized".
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return false;
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    if (start < 0 || start > info.st_size)
        return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    // The file's size at open is what the CRC covers: a writer still appending adds
    // nothing to this call, and a file that shrank below it is a failed read.
    return spanCrc32(fd, -1, static_cast<uint64_t>(info.st_size - start), crc, progress);
}

bool DescriptorRangeCrc32(int fd, uint64_t offset, uint64_t length, uint32_t& crc) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || offset > uint64_t(info.st_size) ||
        length > uint64_t(info.st_size) - offset)
        return false;
    return spanCrc32(fd, off_t(offset), length, crc, {});
}
