#pragma once

#include "coding/coding_layout.h"
#include "coding/split_encoder.h"
#include "common/unique_fd.h"

#include <deque>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A split run on anonymous in-memory files: the source holding `file`, and one file per
// data and recovery part, all open read-write.
struct MemorySplit {
    MemorySplit(const Bytes& file, const CodingLayout& layout);
    std::vector<int> dataFds() const;
    std::vector<int> recoveryFds() const;
    Bytes part(int index) const;  // data parts 0..k-1, then recovery parts

    UniqueFd source;
    std::deque<UniqueFd> parts;
    int dataParts;
};

Bytes SeededFile(std::size_t size, unsigned seed);
