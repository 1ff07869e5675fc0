#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "services/docserver/ZipDirectory.h"

// The headers and records a rewritten package gets where its old ones no
// longer hold: a replaced entry's local header and directory record, a moved
// entry's record, and the end records. Values that no longer fit 32 bits go
// to zip64 fields; a field that was in a zip64 field stays there.
namespace quavelle::docserver {

// What a replaced entry's headers say about its new data.
struct NewEntryData {
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

// A replaced entry's local header from its old one (fixed part, name, extra
// fields): the same but for the data descriptor flag (cleared), the deflate
// option flags (the normal level), checksum and sizes. Fails with 1003 when
// the extra fields cannot take a zip64 field the sizes need.
std::string ReplacedLocalHeader(std::string header, std::size_t nameLength,
                                const NewEntryData& data, const std::u16string& path);

// Entry index's directory record for its local header at offset and, when
// replaced, its new data; byte for byte the old one when neither changed.
std::string RewrittenCentralRecord(const ZipDirectory& dir, std::size_t index, std::uint64_t offset,
                                   const std::optional<NewEntryData>& data,
                                   const std::u16string& path);

// What follows a directory of centralSize bytes at centralAt: the bytes the
// package had after its directory, the zip64 end record and locator when the
// package had them or now needs them, and the end record. The archive
// comment follows them.
std::string EndRecords(const ZipDirectory& dir, std::uint64_t centralAt, std::uint64_t centralSize);

}  // namespace quavelle::docserver
