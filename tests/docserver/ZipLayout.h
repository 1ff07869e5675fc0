#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The tests' own reading of a package's bytes, independent of the writer under
// test: where the directory, its records and the local headers are.
namespace quavelle::docserver::testing {

std::uint64_t Le(const std::string& bytes, std::size_t at, int width);
void SetLe(std::string& bytes, std::size_t at, std::uint64_t value, int width);

struct LayoutRecord {
  std::size_t at = 0;  // in the file
  std::string bytes;   // the whole record
  std::string name;
  std::uint64_t local = 0;        // from the header or its zip64 field
  std::size_t zip64OffsetAt = 0;  // in bytes, when local is in a zip64 field; else 0
};

struct Layout {
  std::vector<LayoutRecord> records;  // directory order
  std::uint64_t centralOffset = 0;
  std::uint64_t centralSize = 0;
  std::size_t endAt = 0;  // the end record
  bool zip64 = false;     // has a zip64 end record and locator

  // The entry's local header, data and anything after them up to the next
  // entry or the directory, by name.
  std::map<std::string, std::string> Ranges(const std::string& file) const;
  std::uint64_t FirstLocal() const;
  const LayoutRecord& Record(const std::string& name) const;
};

Layout ReadLayout(const std::string& file);

// The record with its local-header offset (in the header or zip64 field) zeroed.
std::string WithoutOffset(const LayoutRecord& record);

// A directory record read from its bytes.
LayoutRecord ReadRecord(std::string bytes);
// The data of a header's first zip64 extra field (extra fields at extraAt,
// extraLength bytes long); empty when there is none.
std::string Zip64Field(const std::string& header, std::size_t extraAt, std::size_t extraLength);

// The record without its zip64 fields, and with the fields they stand for
// (version needed, sizes, extra length, offset) zeroed.
std::string WithoutZip64(const std::string& record);

// A copy of file with every directory record's offset (and sizes, when asked)
// moved into a zip64 extra field, and zip64 end records added: the form a
// writer uses past 4 GiB.
std::string AsZip64(const std::string& file, bool sizesToo = false);

// A copy of file with the directory records' order rotated by one: the first
// record becomes the last; the data stays where it is.
std::string WithRotatedDirectory(const std::string& file);

// A 32-bit field of the named entry in a package's bytes, at centralAt in its
// central directory record and at localAt in its local header: read (the two
// must agree) or set in both.
std::uint32_t EntryField(const std::string& bytes, const std::string& name, std::size_t centralAt,
                         std::size_t localAt);
std::string WithEntryField(std::string bytes, const std::string& name, std::size_t centralAt,
                           std::size_t localAt, std::uint32_t value);
inline constexpr std::size_t kCentralCrc = 16, kLocalCrc = 14;
inline constexpr std::size_t kCentralSize = 24, kLocalSize = 22;
inline constexpr std::size_t kCentralDosTime = 12, kLocalDosTime = 10;  // time, then date

}  // namespace quavelle::docserver::testing
