#include "services/docserver/FileWriting.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "services/docserver/ErrnoError.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint64_t kCopyStep = 8 << 20;

void FailInjected(const FaultHook& hook, const std::u16string& displayPath) {
  if (!hook) return;
  if (int fault = hook(ReplaceStep::Write)) throw ErrnoError(fault, u"Cannot write", displayPath);
}

}  // namespace

void WriteAll(int fd, std::string_view bytes, const FaultHook& faultHook,
              const std::u16string& displayPath) {
  FailInjected(faultHook, displayPath);
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError(errno, u"Cannot write", displayPath);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void CopyRange(int inFd, std::uint64_t offset, std::uint64_t length, int outFd,
               const FaultHook& faultHook, const std::u16string& displayPath) {
  FailInjected(faultHook, displayPath);
  auto in = static_cast<off_t>(offset);
  bool kernelCopy = true;
  while (length > 0) {
    if (kernelCopy) {
      ssize_t n = ::copy_file_range(inFd, &in, outFd, nullptr,
                                    static_cast<std::size_t>(std::min(length, kCopyStep)), 0);
      if (n > 0) {
        length -= static_cast<std::uint64_t>(n);
        continue;
      }
      if (n == 0)
        throw ErrnoError(EIO, u"Cannot read", displayPath);  // shorter than its directory said
      if (errno == EINTR) continue;
      // Across file systems, or where the file system has no such call.
      if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
        throw ErrnoError(errno, u"Cannot write", displayPath);
      }
      kernelCopy = false;
    }
    std::string chunk =
        ReadRange(inFd, static_cast<std::uint64_t>(in), std::min(length, kCopyStep), displayPath);
    if (chunk.empty()) throw ErrnoError(EIO, u"Cannot read", displayPath);
    WriteAll(outFd, chunk, nullptr, displayPath);
    in += static_cast<off_t>(chunk.size());
    length -= chunk.size();
  }
}

std::string ReadRange(int fd, std::uint64_t offset, std::uint64_t length,
                      const std::u16string& displayPath) {
  std::string out(static_cast<std::size_t>(length), '\0');
  std::size_t got = 0;
  while (got < out.size()) {
    ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError(errno, u"Cannot read", displayPath);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return out;
}

}  // namespace quavelle::docserver
