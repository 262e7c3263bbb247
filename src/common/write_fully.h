#pragma once

#include <cstddef>

// Writes all size bytes to fd, going on after a write interrupted by a signal or cut
// short: 0 when every byte went, else the errno of the write that failed (EIO for a
// write that took nothing).
int WriteFully(int fd, const void* data, std::size_t size);
