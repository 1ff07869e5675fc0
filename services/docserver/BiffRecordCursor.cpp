#include "services/docserver/BiffRecordCursor.h"

#include <algorithm>

namespace quavelle::docserver {

BiffRecordCursor::BiffRecordCursor(std::uint64_t size, Reader read, std::u16string displayPath,
                                   std::size_t window)
    : size_(size),
      read_(std::move(read)),
      displayPath_(std::move(displayPath)),
      windowSize_(std::max<std::size_t>(window, 1)) {}

void BiffRecordCursor::Hold(std::uint64_t at, std::size_t length) {
  if (at >= windowAt_ && at + length <= windowEnd()) return;
  const auto want =
      static_cast<std::size_t>(std::min<std::uint64_t>(std::max(windowSize_, length), size_ - at));
  if (capacity_ < want) {
    window_ = std::make_unique_for_overwrite<char[]>(want);
    capacity_ = want;
  }
  read_(at, window_.get(), want);
  windowAt_ = at;
  filled_ = want;
}

bool BiffRecordCursor::NextSlow(BiffRecord& record) {
  if (position_ >= size_) return false;
  if (size_ - position_ < 4) {
    Hold(position_, static_cast<std::size_t>(size_ - position_));
    const std::string_view rest(window_.get() + (position_ - windowAt_),
                                static_cast<std::size_t>(size_ - position_));
    if (rest.find_first_not_of('\0') != std::string_view::npos)
      DamagedBiffStream(displayPath_, u"a record runs past the end");
    position_ = size_;
    return false;
  }
  Hold(position_, 4);
  const std::size_t length = Length(window_.get() + (position_ - windowAt_));
  if (position_ + 4 + length > size_)
    DamagedBiffStream(displayPath_, u"a record runs past the end");
  Hold(position_, 4 + length);
  const char* at = window_.get() + (position_ - windowAt_);
  record =
      BiffRecord{static_cast<std::size_t>(position_), Type(at), std::string_view(at + 4, length)};
  position_ += 4 + length;
  return true;
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> BiffRecordCursor::HeaderAt(
    std::uint64_t position) {
  if (position > size_ || size_ - position < 4) return std::nullopt;
  Hold(position, 4);
  const char* at = window_.get() + (position - windowAt_);
  return std::pair{Type(at), static_cast<std::uint16_t>(Length(at))};
}

}  // namespace quavelle::docserver
