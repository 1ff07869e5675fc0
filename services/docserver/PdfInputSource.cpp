#include "services/docserver/PdfInputSource.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "services/Text.h"
#include "services/docserver/ErrnoError.h"

namespace quavelle::docserver {
namespace {

constexpr std::size_t kWindow = 16 << 10;
constexpr qpdf_offset_t kAlign = 4 << 10;

}  // namespace

PdfInputSource::PdfInputSource(int fd, std::uint64_t size, std::u16string displayPath)
    : fd_(fd),
      size_(static_cast<qpdf_offset_t>(size)),
      displayPath_(std::move(displayPath)),
      name_(ToUtf8(displayPath_)),
      window_(kWindow) {}

bool PdfInputSource::Fill(qpdf_offset_t offset) {
  if (offset >= windowStart_ && offset < windowStart_ + static_cast<qpdf_offset_t>(windowLength_)) {
    return true;
  }
  if (offset < 0 || offset >= size_) return false;
  windowStart_ = offset - offset % kAlign;
  windowLength_ = 0;
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<qpdf_offset_t>(kWindow, size_ - windowStart_));
  while (windowLength_ < wanted) {
    const ssize_t n = ::pread(fd_, window_.data() + windowLength_, wanted - windowLength_,
                              static_cast<off_t>(windowStart_) + static_cast<off_t>(windowLength_));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError(errno, u"Cannot read", displayPath_);
    }
    if (n == 0) break;  // shorter than when it was opened
    windowLength_ += static_cast<std::size_t>(n);
  }
  return offset < windowStart_ + static_cast<qpdf_offset_t>(windowLength_);
}

void PdfInputSource::seek(qpdf_offset_t offset, int whence) {
  switch (whence) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += offset_;
      break;
    case SEEK_END:
      offset += size_;
      break;
    default:
      throw std::logic_error("seek with an unknown origin");
  }
  if (offset < 0) throw std::runtime_error(name_ + ": seek before the start of the file");
  offset_ = offset;
}

size_t PdfInputSource::read(char* buffer, size_t length) {
  last_offset = std::min(offset_, size_);
  std::size_t done = 0;
  while (done < length && Fill(offset_)) {
    const auto at = static_cast<std::size_t>(offset_ - windowStart_);
    const std::size_t n = std::min(length - done, windowLength_ - at);
    std::memcpy(buffer + done, window_.data() + at, n);
    done += n;
    offset_ += static_cast<qpdf_offset_t>(n);
  }
  return done;
}

qpdf_offset_t PdfInputSource::findAndSkipNextEOL() {
  auto isEol = [](char c) { return c == '\r' || c == '\n'; };
  while (Fill(offset_)) {
    const char c = window_[static_cast<std::size_t>(offset_ - windowStart_)];
    if (isEol(c)) {
      const qpdf_offset_t eol = offset_++;
      while (Fill(offset_) && isEol(window_[static_cast<std::size_t>(offset_ - windowStart_)])) {
        ++offset_;
      }
      return eol;
    }
    ++offset_;
  }
  offset_ = std::max(offset_, size_);
  return offset_;
}

}  // namespace quavelle::docserver
