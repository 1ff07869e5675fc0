#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/ZipExtraFields.h"

// A zip package's central directory and end records, read with every field
// checked against the file, so that a writer can copy the package range by
// range.
namespace quavelle::docserver {

inline constexpr std::uint64_t kAllOnes32 = 0xFFFFFFFF;  // "the value is in the zip64 block"
inline constexpr std::uint64_t kAllOnes16 = 0xFFFF;
inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kZip64RecordSize = 56;
// A directory larger than this is refused rather than read into memory.
inline constexpr std::uint64_t kMaxCentralDirectory = std::uint64_t{256} << 20;

// Field offsets in a central directory record.
namespace central {
inline constexpr std::size_t kVersionNeeded = 6, kFlags = 8, kMethod = 10, kCrc = 16,
                             kCompressedSize = 20, kUncompressedSize = 24, kNameLength = 28,
                             kExtraLength = 30, kCommentLength = 32, kDiskStart = 34,
                             kLocalOffset = 42;
}
// Field offsets in a local header.
namespace local {
inline constexpr std::size_t kVersionNeeded = 4, kFlags = 6, kMethod = 8, kCrc = 14,
                             kCompressedSize = 18, kUncompressedSize = 22, kNameLength = 26,
                             kExtraLength = 28;
}

inline constexpr std::uint16_t kFlagEncrypted = 1 << 0;
inline constexpr std::uint16_t kFlagDeflateOptions = (1 << 1) | (1 << 2);
inline constexpr std::uint16_t kFlagDataDescriptor = 1 << 3;
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;

struct CentralEntry {
  std::size_t recordAt = 0;  // in ZipDirectory::central
  std::size_t recordSize = 0;
  std::size_t nameLength = 0;
  std::size_t extraLength = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  // With the zip64 block's values applied.
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t localOffset = 0;
  // The local header and data run up to the next entry's local header, or to
  // the directory: data descriptors and any bytes between entries go with it.
  std::uint64_t extentEnd = 0;
  ExtraFields extras;
};

struct ZipDirectory {
  std::string central;  // the directory's bytes
  std::uint64_t centralOffset = 0;
  std::vector<CentralEntry> entries;   // in directory order
  std::vector<std::size_t> fileOrder;  // entry indices by local offset
  std::uint64_t firstLocal = 0;        // the bytes before it are a prefix, kept as they are
  std::string zip64Record;             // with its extensible data; empty when there is none
  std::string zip64Locator;            // empty when there is none
  // Bytes some writers leave after the directory, and after the zip64
  // record, kept as they are.
  std::string afterCentral;
  std::string afterZip64Record;
  std::string endRecord;  // without the comment
  std::uint64_t endRecordAt = 0;

  std::string_view Record(std::size_t i) const {
    return std::string_view(central).substr(entries[i].recordAt, entries[i].recordSize);
  }
  std::string_view Name(std::size_t i) const {
    return Record(i).substr(kCentralHeaderSize, entries[i].nameLength);
  }
};

// Fails with 1003 (damaged package), naming displayPath, when a field points
// outside the file or the records contradict each other.
ZipDirectory ReadZipDirectory(int fd, std::uint64_t size, const std::u16string& displayPath);

}  // namespace quavelle::docserver
