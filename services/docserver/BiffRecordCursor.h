#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "services/docserver/BiffStream.h"

namespace quavelle::docserver {

// The records of a workbook stream read through a small window that can be
// moved to any stream position, so a reader passes over the parts it has no
// use for without reading them.
class BiffRecordCursor {
 public:
  // Reads length bytes of the stream from at into out.
  using Reader = std::function<void(std::uint64_t at, char* out, std::size_t length)>;
  static constexpr std::size_t kWindow = 64 << 10;

  // size: of the stream; window: bytes read at once (grown to hold a whole record).
  BiffRecordCursor(std::uint64_t size, Reader read, std::u16string displayPath,
                   std::size_t window = kWindow);

  // The record at the cursor, which moves past it; false at the end of the
  // stream. A record cut short fails with 1003; fewer than four bytes left
  // at the end must be zero padding. record.data is valid until the next call.
  bool Next(BiffRecord& record) {
    return NextOf(record, [](std::uint16_t) { return true; });
  }

  // The same for the next record whose type wanted(type) accepts, passing
  // over the others.
  template <typename Wanted>
  bool NextOf(BiffRecord& record, Wanted&& wanted) {
    for (;;) {
      if (position_ >= windowAt_ && position_ <= windowEnd()) {
        // The records wholly in the window, without leaving registers.
        const char* at = window_.get() + (position_ - windowAt_);
        const char* const end = window_.get() + filled_;
        while (end - at >= 4) {
          const std::size_t length = Length(at);
          if (static_cast<std::size_t>(end - at) - 4 < length) break;
          const std::uint16_t type = Type(at);
          if (wanted(type)) {
            record = BiffRecord{static_cast<std::size_t>(windowAt_ + (at - window_.get())), type,
                                std::string_view(at + 4, length)};
            position_ = record.offset + 4 + length;
            return true;
          }
          at += 4 + length;
        }
        position_ = windowAt_ + static_cast<std::uint64_t>(at - window_.get());
      }
      if (!NextSlow(record)) return false;
      if (wanted(record.type)) return true;
    }
  }

  // The type and data length of the record whose header is at position, if
  // the stream holds four bytes there.
  std::optional<std::pair<std::uint16_t, std::uint16_t>> HeaderAt(std::uint64_t position);
  // The next record is read from position.
  void Seek(std::uint64_t position) { position_ = position; }
  std::uint64_t position() const { return position_; }
  std::uint64_t size() const { return size_; }

 private:
  static std::uint16_t Type(const char* at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(at[0]) |
                                      static_cast<unsigned char>(at[1]) << 8);
  }
  static std::size_t Length(const char* at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(at[2]) |
                                    static_cast<unsigned char>(at[3]) << 8);
  }
  std::uint64_t windowEnd() const { return windowAt_ + filled_; }
  bool NextSlow(BiffRecord& record);
  // Makes the window hold the bytes from at to at + length, which the
  // stream must hold.
  void Hold(std::uint64_t at, std::size_t length);

  std::uint64_t size_;
  Reader read_;
  std::u16string displayPath_;
  std::size_t windowSize_;
  std::unique_ptr<char[]> window_;  // read into before it is looked at
  std::size_t capacity_ = 0;
  std::uint64_t windowAt_ = 0;
  std::size_t filled_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace quavelle::docserver
