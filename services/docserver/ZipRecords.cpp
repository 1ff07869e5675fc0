#include "services/docserver/ZipRecords.h"

#include <algorithm>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/LittleEndian.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint16_t kZip64Version = 45;
constexpr std::size_t kMaxExtraLength = 0xFFFF;

ServiceError Refused(const std::u16string& path, std::string_view name, std::u16string_view why) {
  return ServiceError(
      error_number::kDamagedPackage,
      u"Cannot write '" + path + u"': part '" + FromUtf8(name) + u"' " + std::u16string(why));
}

std::uint16_t ReplacedFlags(std::uint64_t flags, std::uint64_t method) {
  flags &= ~std::uint64_t{kFlagDataDescriptor};
  if (method == kMethodDeflated) flags &= ~std::uint64_t{kFlagDeflateOptions};  // normal level
  return static_cast<std::uint16_t>(flags);
}

void NeedZip64Version(std::string& header, std::size_t at) {
  const std::uint64_t version = LoadLe(header, at, 2);
  if ((version & 0xFF) < kZip64Version) StoreLe(header, at, (version & 0xFF00) | kZip64Version, 2);
}

}  // namespace

std::string ReplacedLocalHeader(std::string header, std::size_t nameLength,
                                const NewEntryData& replaced, const std::u16string& path) {
  const std::uint64_t method = LoadLe(header, local::kMethod, 2);
  const std::string name = header.substr(kLocalHeaderSize, nameLength);
  StoreLe(header, local::kFlags, ReplacedFlags(LoadLe(header, local::kFlags, 2), method), 2);
  StoreLe(header, local::kCrc, replaced.crc, 4);
  const std::string_view extra = std::string_view(header).substr(kLocalHeaderSize + nameLength);
  const ExtraFields walk = WalkExtraFields(extra);
  const bool large =
      replaced.uncompressedSize >= kAllOnes32 || replaced.compressedSize >= kAllOnes32;
  if (walk.zip64 || large) {
    // A local zip64 block holds both sizes, and the header all ones.
    if (!walk.zip64 && !walk.wellFormed)
      throw Refused(path, name, u"has damaged extra fields and grows past 4 GiB");
    Zip64Values values;
    values.uncompressed = replaced.uncompressedSize;
    values.compressed = replaced.compressedSize;
    const std::string newExtra = WithZip64Values(
        extra, walk, values, walk.zip64 ? std::min<std::size_t>(16, walk.zip64->length) : 0);
    if (newExtra.size() > kMaxExtraLength)
      throw Refused(path, name, u"has too many extra fields to grow past 4 GiB");
    header.resize(kLocalHeaderSize + nameLength);
    header += newExtra;
    StoreLe(header, local::kExtraLength, newExtra.size(), 2);
    StoreLe(header, local::kCompressedSize, kAllOnes32, 4);
    StoreLe(header, local::kUncompressedSize, kAllOnes32, 4);
    if (!walk.zip64) NeedZip64Version(header, local::kVersionNeeded);
  } else {
    StoreLe(header, local::kCompressedSize, replaced.compressedSize, 4);
    StoreLe(header, local::kUncompressedSize, replaced.uncompressedSize, 4);
  }
  return header;
}

std::string RewrittenCentralRecord(const ZipDirectory& dir, std::size_t index, std::uint64_t offset,
                                   const std::optional<NewEntryData>& replaced,
                                   const std::u16string& path) {
  const CentralEntry& e = dir.entries[index];
  const std::string_view old = dir.Record(index);
  std::string record(old);
  if (!replaced && offset == e.localOffset) return record;

  const std::uint64_t uncompressed = replaced ? replaced->uncompressedSize : e.uncompressedSize;
  const std::uint64_t compressed = replaced ? replaced->compressedSize : e.compressedSize;
  // A value the zip64 block held stays there; one that no longer fits moves there.
  const bool hadUncompressed = LoadLe(old, central::kUncompressedSize, 4) == kAllOnes32;
  const bool hadCompressed = LoadLe(old, central::kCompressedSize, 4) == kAllOnes32;
  const bool hadOffset = LoadLe(old, central::kLocalOffset, 4) == kAllOnes32;
  const bool hadDisk = LoadLe(old, central::kDiskStart, 2) == kAllOnes16;
  const bool inBlockUncompressed = hadUncompressed || uncompressed >= kAllOnes32;
  const bool inBlockCompressed = hadCompressed || compressed >= kAllOnes32;
  const bool inBlockOffset = hadOffset || offset >= kAllOnes32;

  if (replaced) {
    StoreLe(record, central::kFlags, ReplacedFlags(LoadLe(old, central::kFlags, 2), e.method), 2);
    StoreLe(record, central::kCrc, replaced->crc, 4);
  }
  StoreLe(record, central::kUncompressedSize, inBlockUncompressed ? kAllOnes32 : uncompressed, 4);
  StoreLe(record, central::kCompressedSize, inBlockCompressed ? kAllOnes32 : compressed, 4);
  StoreLe(record, central::kLocalOffset, inBlockOffset ? kAllOnes32 : offset, 4);
  if (!inBlockUncompressed && !inBlockCompressed && !inBlockOffset && !hadDisk) return record;

  const std::size_t extraAt = kCentralHeaderSize + e.nameLength;
  const std::string_view extra = old.substr(extraAt, e.extraLength);
  if (!e.extras.zip64 && !e.extras.wellFormed)
    throw Refused(path, dir.Name(index), u"has damaged extra fields and moves past 4 GiB");
  Zip64Values values;
  if (inBlockUncompressed) values.uncompressed = uncompressed;
  if (inBlockCompressed) values.compressed = compressed;
  if (inBlockOffset) values.offset = offset;
  if (hadDisk) values.disk = 0;
  const std::size_t oldLength =
      (hadUncompressed ? 8 : 0) + (hadCompressed ? 8 : 0) + (hadOffset ? 8 : 0) + (hadDisk ? 4 : 0);
  const std::string newExtra = WithZip64Values(extra, e.extras, values, oldLength);
  if (newExtra.size() > kMaxExtraLength)
    throw Refused(path, dir.Name(index), u"has too many extra fields to move past 4 GiB");
  record.resize(extraAt);
  record += newExtra;
  record += old.substr(extraAt + e.extraLength);
  StoreLe(record, central::kExtraLength, newExtra.size(), 2);
  if (values.Length() > oldLength) NeedZip64Version(record, central::kVersionNeeded);
  return record;
}

std::string EndRecords(const ZipDirectory& dir, std::uint64_t centralAt,
                       std::uint64_t centralSize) {
  std::string out = dir.afterCentral;
  const std::uint64_t count = dir.entries.size();
  if (!dir.zip64Record.empty() || count >= kAllOnes16 || centralSize >= kAllOnes32 ||
      centralAt >= kAllOnes32) {
    std::string record = dir.zip64Record;
    if (record.empty()) {
      record = "PK\6\6";
      AppendLe(record, kZip64RecordSize - 12, 8);
      AppendLe(record, kZip64Version, 2);  // made by
      AppendLe(record, kZip64Version, 2);  // needed
      AppendLe(record, 0, 4);              // this disk
      AppendLe(record, 0, 4);              // the directory's disk
      AppendLe(record, count, 8);
      AppendLe(record, count, 8);
      AppendLe(record, 0, 8);  // directory size, below
      AppendLe(record, 0, 8);  // and offset
    }
    StoreLe(record, 40, centralSize, 8);
    StoreLe(record, 48, centralAt, 8);
    std::string locator = dir.zip64Locator;
    if (locator.empty()) {
      locator = "PK\6\7";
      AppendLe(locator, 0, 4);  // the record's disk
      AppendLe(locator, 0, 8);  // its offset, below
      AppendLe(locator, 1, 4);  // disks
    }
    StoreLe(locator, 8, centralAt + centralSize + dir.afterCentral.size(), 8);
    out += record;
    if (!dir.zip64Record.empty()) out += dir.afterZip64Record;
    out += locator;
  }
  std::string end = dir.endRecord;
  // A field that said "see the zip64 record" keeps saying so.
  auto set = [&end](std::size_t at, std::uint64_t value) {
    if (LoadLe(end, at, 4) != kAllOnes32) StoreLe(end, at, std::min(value, kAllOnes32), 4);
  };
  set(12, centralSize);
  set(16, centralAt);
  out += end;
  return out;
}

}  // namespace quavelle::docserver
