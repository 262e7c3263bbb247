// Every way a split can fail stops every thread and says what failed, with the errno.
#include "coding/split_encoder.h"
#include "coding_test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace {

using Kind = SplitEncoderError::Kind;

TEST(SplitEncoderFaults, EachFailureNamesItsCause) {
    const CodingLayout layout = *MakeCodingLayout(100'000, 3, 2);
    const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    const UniqueFd readOnly(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const UniqueFd writeOnly(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const UniqueFd pipeRead(pipeEnds[0]), pipeWrite(pipeEnds[1]);
    struct Row {
        const char* name;
        std::function<void(MemorySplit&, std::vector<int>& data, std::vector<int>& recovery)> setUp;
        Kind kind;
        int part;
        int error;
        enum { Quiet, Cancel, Throw } progress = Quiet;
    };
    const Row rows[] = {
        {"source shorter than its size", [](MemorySplit& s, auto&, auto&) { ASSERT_EQ(::ftruncate(s.source.get(), 99'999), 0); },
         Kind::SourceEnded, -1, 0},
        {"source that cannot be read at an offset", [&](MemorySplit& s, auto&, auto&) { ASSERT_GE(::dup2(pipeRead.get(), s.source.get()), 0); },
         Kind::ReadSource, -1, ESPIPE},
        {"data part that cannot be written", [&](MemorySplit&, auto& data, auto&) { data[1] = readOnly.get(); },
         Kind::WriteData, 1, EBADF},
        {"data part that cannot be read back", [&](MemorySplit&, auto& data, auto&) { data[0] = writeOnly.get(); },
         Kind::ReadData, 0, EBADF},
        {"recovery part on a full disk", [&](MemorySplit&, auto&, auto& recovery) { recovery[1] = full.get(); },
         Kind::WriteRecovery, 1, ENOSPC},
        {"cancelled while running", [](MemorySplit&, auto&, auto&) {}, Kind::Cancelled, -1, 0, Row::Cancel},
        // The callback's own exception comes out, once every thread has stopped.
        {"progress callback that throws", [](MemorySplit&, auto&, auto&) {}, Kind::Cancelled, -1, 0, Row::Throw},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemorySplit split(SeededFile(100'000, 5), layout);
        std::vector<int> data = split.dataFds(), recovery = split.recoveryFds();
        row.setUp(split, data, recovery);
        SplitEncoder encoder(layout, split.source.get(), data, recovery, {4096, 4096});
        try {
            encoder.run([&](const SplitEncoderProgress&) {
                if (row.progress == Row::Cancel)
                    encoder.cancel();
                if (row.progress == Row::Throw)
                    throw std::out_of_range("from the callback");
            });
            ADD_FAILURE() << "the split succeeded";
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(row.progress, Row::Throw) << e.what();
        } catch (const SplitEncoderError& e) {
            EXPECT_NE(row.progress, Row::Throw) << e.what();
            EXPECT_EQ(e.kind(), row.kind) << e.what();
            EXPECT_EQ(e.part(), row.part) << e.what();
            EXPECT_EQ(e.error(), row.error) << e.what();
        }
    }
}

}  // namespace
