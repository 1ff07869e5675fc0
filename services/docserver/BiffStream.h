#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The record stream of a binary workbook: type, length, data, one after the
// other, with absolute stream positions in a few records.
namespace quavelle::docserver {

namespace biff {
inline constexpr std::uint16_t kBof = 0x0809;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kFilePass = 0x002F;
inline constexpr std::uint16_t kContinue = 0x003C;
inline constexpr std::uint16_t kBoundSheet = 0x0085;
inline constexpr std::uint16_t kExtSst = 0x00FF;
inline constexpr std::uint16_t kDbCell = 0x00D7;
inline constexpr std::uint16_t kIndex = 0x020B;
inline constexpr std::uint16_t kSupBook = 0x01AE;
inline constexpr std::uint16_t kHLink = 0x01B8;
inline constexpr std::size_t kMaxRecordData = 8224;
}  // namespace biff

struct BiffRecord {
  std::size_t offset = 0;  // of the record's header in the stream
  std::uint16_t type = 0;
  std::string_view data;
};

std::uint16_t BiffU16(std::string_view data, std::size_t at);
std::uint32_t BiffU32(std::string_view data, std::size_t at);

[[noreturn]] void DamagedBiffStream(const std::u16string& displayPath, std::u16string_view reason);

// Calls visit(record) for each record of stream in order, until it returns
// false; a record cut short fails with 1003 naming displayPath. Zero bytes
// after the last record are padding.
template <typename Visit>
void ForEachBiffRecord(std::string_view stream, const std::u16string& displayPath, Visit&& visit) {
  std::size_t at = 0;
  while (at + 4 <= stream.size()) {
    const std::uint16_t type = BiffU16(stream, at);
    const std::uint16_t length = BiffU16(stream, at + 2);
    if (type == 0 && length == 0 && stream.find_first_not_of('\0', at) == std::string_view::npos)
      break;
    if (at + 4 + length > stream.size())
      DamagedBiffStream(displayPath, u"a record runs past the end");
    if (!visit(BiffRecord{at, type, stream.substr(at + 4, length)})) break;
    at += 4 + std::size_t{length};
  }
}

// Every record of stream.
std::vector<BiffRecord> WalkBiffRecords(std::string_view stream, const std::u16string& displayPath);

// The stream with the data of some records replaced (record index -> data),
// and every absolute position that the change of length moves fixed: sheet
// offsets, index and cell-block positions, shared-string buckets. The result
// is walked again; a position that no longer lands where it should fails
// with 1003 and nothing is written.
std::string RewriteBiffStream(std::string_view stream, const std::vector<BiffRecord>& records,
                              const std::map<std::size_t, std::string>& edits,
                              const std::u16string& displayPath);

}  // namespace quavelle::docserver
