// The send-queue block: bytes go in behind the write count, come out from the read
// count, and a drained block starts again at 0.
#include "net/socket_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string unreadText(const TBuffer& b) {
    qint64 len = 0;
    const char* p = b.peek(len);
    return std::string(p, size_t(len));
}
} // namespace

TEST(AsyncSocketBuffer, FillsPeeksRemovesAndIsReused) {
    TBuffer b(0);
    EXPECT_EQ(b.size(), 1514);
    const std::string chunk(1000, 'a');
    EXPECT_EQ(b.write(chunk.data(), 1000), 1000);
    EXPECT_EQ(b.write(chunk.data(), 1000), 514); // only what fits
    EXPECT_TRUE(b.full());
    qint64 len = 0;
    b.peek(len);
    EXPECT_EQ(len, 1514);
    b.remove(1500);
    const char* rest = b.peek(len);
    EXPECT_EQ(len, 14);
    EXPECT_EQ(rest[0], 'a');
    b.remove(100); // more than is left: the block empties and is reused from 0
    EXPECT_EQ(b.unread(), 0);
    EXPECT_FALSE(b.full());
    EXPECT_EQ(b.write("xyz", 3), 3);
    EXPECT_EQ(unreadText(b), "xyz");
}

TEST(AsyncSocketBuffer, ResizingKeepsTheWrittenBytes) {
    TBuffer b(10);
    b.write("0123456789", 10);
    b.setSize(4);
    EXPECT_EQ(unreadText(b), "0123");
    b.setSize(20);
    EXPECT_EQ(b.write("abc", 3), 3);
    EXPECT_EQ(unreadText(b), "0123abc");
}
