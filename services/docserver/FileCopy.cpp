#include "services/docserver/FileCopy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace quavelle::docserver {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

int CopyThroughBuffer(int fromFd, std::uint64_t from, int toFd, std::uint64_t to,
                      std::uint64_t length) {
  const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBufferSize));
  auto buffer = std::make_unique_for_overwrite<char[]>(size);
  while (length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, size));
    ssize_t n = ::pread(fromFd, buffer.get(), want, static_cast<off_t>(from));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return kSourceEndedEarly;
    if (int error = WriteBytesAt(toFd, to, buffer.get(), static_cast<std::uint64_t>(n))) {
      return error;
    }
    from += static_cast<std::uint64_t>(n);
    to += static_cast<std::uint64_t>(n);
    length -= static_cast<std::uint64_t>(n);
  }
  return 0;
}

// Errors that say only that this pair of files cannot be copied in the kernel.
bool KernelCopyUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL ||
         error == EPERM || error == ETXTBSY;
}

}  // namespace

int WriteBytesAt(int fd, std::uint64_t to, const void* data, std::uint64_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 30));
    ssize_t n = ::pwrite(fd, p, want, static_cast<off_t>(to));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    to += static_cast<std::uint64_t>(n);
    length -= static_cast<std::uint64_t>(n);
  }
  return 0;
}

int CopyBytes(int fromFd, std::uint64_t from, int toFd, std::uint64_t to, std::uint64_t length) {
  bool copiedAny = false;
  while (length > 0) {
    off64_t in = static_cast<off64_t>(from);
    off64_t out = static_cast<off64_t>(to);
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 30));
    ssize_t n = ::copy_file_range(fromFd, &in, toFd, &out, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // Some file systems refuse only after part of a range; the rest goes
      // through the buffer all the same.
      if (KernelCopyUnsupported(errno)) return CopyThroughBuffer(fromFd, from, toFd, to, length);
      return errno;
    }
    if (n == 0)
      return copiedAny ? kSourceEndedEarly : CopyThroughBuffer(fromFd, from, toFd, to, length);
    copiedAny = true;
    from += static_cast<std::uint64_t>(n);
    to += static_cast<std::uint64_t>(n);
    length -= static_cast<std::uint64_t>(n);
  }
  return 0;
}

}  // namespace quavelle::docserver
