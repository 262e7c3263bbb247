#include "gather/progress_figure.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressFigure, PercentOfAKnownLengthElseTheByteCount) {
    struct Row {
        qint64 received;
        const char* size;
        const char* shown;
    };
    const qint64 fiveGiB = 5LL << 30;
    const Row rows[] = {
        {0, "1000", "0%"},
        {999, "1000", "99%"},  // truncated, never rounded up to a finished look
        {1000, "1000", "100%"},
        {1500, "1000", "150%"},  // a body longer than announced is shown as it is
        {4LL << 30, "5368709120", "80%"},  // beyond 32 bits
        {fiveGiB, "5368709120", "100%"},
        {INT64_MAX / 2, "9223372036854775807", "49%"},  // received * 100 needs more than 64 bits
        {12345, "?", "12345"},  // before the header's length is known
        {12345, "0", "12345"},
        {12345, "-1", "12345"},  // the response carried no length: never a negative per cent
    };
    for (const Row& row : rows)
        EXPECT_EQ(ProgressFigure(row.received, row.size), row.shown) << row.received << " of " << row.size;
}

}  // namespace
