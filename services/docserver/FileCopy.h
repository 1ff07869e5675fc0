#pragma once

#include <cstdint>

namespace quavelle::docserver {

// What CopyBytes reports besides an errno value.
inline constexpr int kSourceEndedEarly = -1;

// Copies length bytes from offset from in one file to offset to in another,
// inside the kernel where the file systems allow it, else through a large
// buffer. Gives 0, an errno value, or kSourceEndedEarly. Neither file
// position moves.
int CopyBytes(int fromFd, std::uint64_t from, int toFd, std::uint64_t to, std::uint64_t length);

// Writes all of length bytes at offset to; gives 0 or an errno value.
int WriteBytesAt(int fd, std::uint64_t to, const void* data, std::uint64_t length);

}  // namespace quavelle::docserver
