#include "services/docserver/ZipDirectory.h"

#include <algorithm>
#include <optional>

#include "services/docserver/DocServerErrors.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/LittleEndian.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kEndSignature("PK\5\6", 4);
constexpr std::string_view kLocatorSignature("PK\6\7", 4);
constexpr std::string_view kZip64Signature("PK\6\6", 4);
constexpr std::string_view kCentralSignature("PK\1\2", 4);
constexpr std::size_t kMaxComment = 0xFFFF;
// The zip64 record's extensible data is not used by anything we know of; a
// long one is more likely damage than data.
constexpr std::uint64_t kMaxZip64Record = 64 << 10;

ServiceError Damaged(const std::u16string& path, std::u16string_view why) {
  return ServiceError(
      error_number::kDamagedPackage,
      u"Cannot read '" + path + u"': damaged package (" + std::u16string(why) + u")");
}

bool HasSignature(std::string_view bytes, std::size_t at, std::string_view signature) {
  return at <= bytes.size() && bytes.size() - at >= signature.size() &&
         bytes.substr(at, signature.size()) == signature;
}

// The end record in the file's tail: the last one whose comment ends the
// file, else the last one whose comment fits in it.
std::optional<std::size_t> FindEndRecord(std::string_view tail) {
  if (tail.size() < kEndRecordSize) return std::nullopt;
  std::optional<std::size_t> fitting;
  for (std::size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
    if (!HasSignature(tail, at, kEndSignature)) continue;
    const std::size_t end = at + kEndRecordSize + LoadLe(tail, at + 20, 2);
    if (end == tail.size()) return at;
    if (end < tail.size() && !fitting) fitting = at;
  }
  return fitting;
}

// Where the directory is, from the end record or the zip64 record.
struct DirectoryPlace {
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  std::uint64_t limit = 0;  // the first byte after the directory's room
};

DirectoryPlace ReadEndRecords(int fd, std::uint64_t size, ZipDirectory& dir,
                              const std::u16string& path) {
  const std::uint64_t tailLength =
      std::min<std::uint64_t>(size, kZip64LocatorSize + kEndRecordSize + kMaxComment);
  const std::uint64_t tailAt = size - tailLength;
  const std::string tail = ReadRange(fd, tailAt, tailLength, path);
  if (tail.size() != tailLength) throw Damaged(path, u"shorter than its size");
  const std::optional<std::size_t> endAt = FindEndRecord(tail);
  if (!endAt) throw Damaged(path, u"no end of central directory record");
  dir.endRecord = tail.substr(*endAt, kEndRecordSize);
  dir.endRecordAt = tailAt + *endAt;
  const std::string_view end = dir.endRecord;

  DirectoryPlace place;
  if (*endAt >= kZip64LocatorSize &&
      HasSignature(tail, *endAt - kZip64LocatorSize, kLocatorSignature)) {
    dir.zip64Locator = tail.substr(*endAt - kZip64LocatorSize, kZip64LocatorSize);
    const std::uint64_t locatorAt = dir.endRecordAt - kZip64LocatorSize;
    const std::uint64_t recordAt = LoadLe(dir.zip64Locator, 8, 8);
    if (LoadLe(dir.zip64Locator, 4, 4) != 0 || LoadLe(dir.zip64Locator, 16, 4) > 1)
      throw Damaged(path, u"spans several disks");
    if (recordAt > locatorAt || locatorAt - recordAt < kZip64RecordSize)
      throw Damaged(path, u"the zip64 end record is outside the file");
    std::string head = ReadRange(fd, recordAt, kZip64RecordSize, path);
    if (head.size() != kZip64RecordSize || !HasSignature(head, 0, kZip64Signature))
      throw Damaged(path, u"no zip64 end record where its locator says");
    const std::uint64_t recordSize = LoadLe(head, 4, 8);
    if (recordSize < kZip64RecordSize - 12 || recordSize > kMaxZip64Record ||
        recordSize + 12 > locatorAt - recordAt) {
      throw Damaged(path, u"the zip64 end record's size is wrong");
    }
    dir.zip64Record = ReadRange(fd, recordAt, recordSize + 12, path);
    if (dir.zip64Record.size() != recordSize + 12) throw Damaged(path, u"shorter than its size");
    const std::string_view record = dir.zip64Record;
    if (LoadLe(record, 16, 4) != 0 || LoadLe(record, 20, 4) != 0)
      throw Damaged(path, u"spans several disks");
    if (LoadLe(record, 24, 8) != LoadLe(record, 32, 8)) throw Damaged(path, u"spans several disks");
    place = {LoadLe(record, 32, 8), LoadLe(record, 40, 8), LoadLe(record, 48, 8), recordAt};
  } else {
    if (LoadLe(end, 4, 2) != 0 || LoadLe(end, 6, 2) != 0 || LoadLe(end, 8, 2) != LoadLe(end, 10, 2))
      throw Damaged(path, u"spans several disks");
    place = {LoadLe(end, 10, 2), LoadLe(end, 12, 4), LoadLe(end, 16, 4), dir.endRecordAt};
  }
  if (place.size > kMaxCentralDirectory) throw Damaged(path, u"its directory is too large");
  if (place.offset > place.limit || place.size > place.limit - place.offset)
    throw Damaged(path, u"its directory lies outside the file");
  if (place.entries > place.size / kCentralHeaderSize)
    throw Damaged(path, u"more entries than its directory holds");
  return place;
}

CentralEntry ReadCentralRecord(std::string_view central, std::size_t at,
                               const std::u16string& path) {
  if (central.size() - at < kCentralHeaderSize || !HasSignature(central, at, kCentralSignature))
    throw Damaged(path, u"fewer directory records than it counts");
  const std::string_view header = central.substr(at, kCentralHeaderSize);
  CentralEntry e;
  e.recordAt = at;
  e.nameLength = LoadLe(header, central::kNameLength, 2);
  e.extraLength = LoadLe(header, central::kExtraLength, 2);
  e.recordSize = kCentralHeaderSize + e.nameLength + e.extraLength +
                 LoadLe(header, central::kCommentLength, 2);
  if (central.size() - at < e.recordSize) throw Damaged(path, u"a directory record is cut short");
  e.flags = static_cast<std::uint16_t>(LoadLe(header, central::kFlags, 2));
  e.method = static_cast<std::uint16_t>(LoadLe(header, central::kMethod, 2));
  e.compressedSize = LoadLe(header, central::kCompressedSize, 4);
  e.uncompressedSize = LoadLe(header, central::kUncompressedSize, 4);
  e.localOffset = LoadLe(header, central::kLocalOffset, 4);
  const std::uint64_t disk = LoadLe(header, central::kDiskStart, 2);

  const std::string_view extra =
      central.substr(at + kCentralHeaderSize + e.nameLength, e.extraLength);
  e.extras = WalkExtraFields(extra);
  const bool inBlock[] = {e.uncompressedSize == kAllOnes32, e.compressedSize == kAllOnes32,
                          e.localOffset == kAllOnes32, disk == kAllOnes16};
  if (std::ranges::any_of(inBlock, [](bool b) { return b; })) {
    if (!e.extras.zip64) throw Damaged(path, u"a zip64 entry has no zip64 extra field");
    const std::optional<Zip64Values> values =
        ReadZip64Values(extra.substr(e.extras.zip64->at + 4, e.extras.zip64->length), inBlock[0],
                        inBlock[1], inBlock[2], inBlock[3]);
    if (!values) throw Damaged(path, u"a zip64 extra field is cut short");
    e.uncompressedSize = values->uncompressed.value_or(e.uncompressedSize);
    e.compressedSize = values->compressed.value_or(e.compressedSize);
    e.localOffset = values->offset.value_or(e.localOffset);
    if (values->disk.value_or(0) != 0) throw Damaged(path, u"spans several disks");
  } else if (disk != 0) {
    throw Damaged(path, u"spans several disks");
  }
  return e;
}

// Orders the entries by where their data lies, and checks that each one's
// header and data fit before the next one.
void PlaceEntries(ZipDirectory& dir, const std::u16string& path) {
  dir.fileOrder.resize(dir.entries.size());
  for (std::size_t i = 0; i < dir.fileOrder.size(); ++i) dir.fileOrder[i] = i;
  std::ranges::stable_sort(dir.fileOrder, [&](std::size_t a, std::size_t b) {
    return dir.entries[a].localOffset < dir.entries[b].localOffset;
  });
  dir.firstLocal = dir.centralOffset;
  for (std::size_t k = dir.fileOrder.size(); k-- > 0;) {
    CentralEntry& e = dir.entries[dir.fileOrder[k]];
    const std::uint64_t next = dir.firstLocal;
    if (e.localOffset >= next) {
      throw Damaged(path, k + 1 == dir.fileOrder.size() ? u"an entry lies past its directory"
                                                        : u"two entries share their data");
    }
    if (next - e.localOffset < kLocalHeaderSize ||
        e.compressedSize > next - e.localOffset - kLocalHeaderSize) {
      throw Damaged(path, u"an entry's data runs past the next one");
    }
    e.extentEnd = next;
    dir.firstLocal = e.localOffset;
  }
}

}  // namespace

ZipDirectory ReadZipDirectory(int fd, std::uint64_t size, const std::u16string& path) {
  ZipDirectory dir;
  const DirectoryPlace place = ReadEndRecords(fd, size, dir, path);
  dir.centralOffset = place.offset;
  dir.central = ReadRange(fd, place.offset, place.size, path);
  if (dir.central.size() != place.size) throw Damaged(path, u"shorter than its size");
  const std::uint64_t centralEnd = place.offset + place.size;
  if (place.limit > centralEnd) {
    dir.afterCentral = ReadRange(fd, centralEnd, place.limit - centralEnd, path);
    if (dir.afterCentral.size() != place.limit - centralEnd)
      throw Damaged(path, u"shorter than its size");
  }
  if (!dir.zip64Record.empty()) {
    const std::uint64_t recordEnd = place.limit + dir.zip64Record.size();
    const std::uint64_t locatorAt = dir.endRecordAt - kZip64LocatorSize;
    if (locatorAt > recordEnd) {
      dir.afterZip64Record = ReadRange(fd, recordEnd, locatorAt - recordEnd, path);
      if (dir.afterZip64Record.size() != locatorAt - recordEnd)
        throw Damaged(path, u"shorter than its size");
    }
  }
  dir.entries.reserve(static_cast<std::size_t>(place.entries));
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < place.entries; ++i) {
    dir.entries.push_back(ReadCentralRecord(dir.central, at, path));
    at += dir.entries.back().recordSize;
  }
  if (at != dir.central.size()) throw Damaged(path, u"more directory records than it counts");
  PlaceEntries(dir, path);
  return dir;
}

}  // namespace quavelle::docserver
