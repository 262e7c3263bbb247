#include "coding_test_files.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int memoryFile() {
    const int fd = ::memfd_create("pw-coding-test", MFD_CLOEXEC);
    EXPECT_GE(fd, 0);
    return fd;
}

}  // namespace

MemorySplit::MemorySplit(const Bytes& file, const CodingLayout& layout)
    : source(memoryFile()), dataParts(layout.dataParts) {
    EXPECT_EQ(::pwrite(source.get(), file.data(), file.size(), 0), static_cast<ssize_t>(file.size()));
    for (int i = 0; i < layout.dataParts + layout.recoveryParts; ++i)
        parts.emplace_back(memoryFile());
}

std::vector<int> MemorySplit::dataFds() const {
    std::vector<int> fds;
    for (int i = 0; i < dataParts; ++i)
        fds.push_back(parts[static_cast<std::size_t>(i)].get());
    return fds;
}

std::vector<int> MemorySplit::recoveryFds() const {
    std::vector<int> fds;
    for (std::size_t i = static_cast<std::size_t>(dataParts); i < parts.size(); ++i)
        fds.push_back(parts[i].get());
    return fds;
}

Bytes MemorySplit::part(int index) const {
    const int fd = parts[static_cast<std::size_t>(index)].get();
    struct stat info {};
    EXPECT_EQ(::fstat(fd, &info), 0);
    Bytes bytes(static_cast<std::size_t>(info.st_size));
    EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    return bytes;
}

Bytes SeededFile(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(gen());
    return bytes;
}
