#include "services/docserver/ZipRewriter.h"

#include <fcntl.h>
#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/LittleEndian.h"

namespace quavelle::docserver {
namespace {

// libdeflate's middle level: most of the best level's ratio in a fraction of
// its time, and the "normal" setting in the header flags.
constexpr int kDeflateLevel = 6;
constexpr std::string_view kLocalSignature("PK\3\4", 4);
constexpr std::uint16_t kZip64Version = 45;
constexpr std::size_t kMaxExtraLength = 0xFFFF;
// The new package goes to disk in steps of this size while it is written.
constexpr std::uint64_t kWriteBehind = 8 << 20;

ServiceError Damaged(const std::u16string& path, std::u16string_view why) {
  return ServiceError(
      error_number::kDamagedPackage,
      u"Cannot read '" + path + u"': damaged package (" + std::u16string(why) + u")");
}

ServiceError Refused(const std::u16string& path, const ZipDirectory& dir, std::size_t index,
                     std::u16string_view why) {
  return ServiceError(error_number::kDamagedPackage, u"Cannot write '" + path + u"': part '" +
                                                         FromUtf8(dir.Name(index)) + u"' " +
                                                         std::u16string(why));
}

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const noexcept { libdeflate_free_compressor(c); }
};
using CompressorPtr = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// The new package's bytes, in order. Ranges of the old package that follow
// each other are copied in one call.
class PackageOutput {
 public:
  PackageOutput(int inFd, int outFd, const FaultHook& faultHook, const std::u16string& path)
      : inFd_(inFd), outFd_(outFd), faultHook_(faultHook), path_(path) {}

  std::uint64_t position() const { return written_ + (copyTo_ - copyFrom_); }

  void Copy(std::uint64_t from, std::uint64_t to) {
    if (from == to) return;
    if (from != copyTo_) Flush();
    if (copyFrom_ == copyTo_) copyFrom_ = from;
    copyTo_ = to;
  }

  void Write(std::string_view bytes) {
    Flush();
    WriteAll(outFd_, bytes, faultHook_, path_);
    written_ += bytes.size();
    StartWriteBack(bytes.size());
  }

  void Flush() {
    while (copyTo_ > copyFrom_) {
      const std::uint64_t step = std::min(copyTo_ - copyFrom_, kWriteBehind);
      CopyRange(inFd_, copyFrom_, step, outFd_, faultHook_, path_);
      copyFrom_ += step;
      written_ += step;
      StartWriteBack(step);
    }
    copyFrom_ = copyTo_ = 0;
  }

 private:
  // Starts, without waiting, the write-out of what is not yet on its way to
  // disk, so that the caller's flush waits for the last step only. A head
  // start only: the flush reports any failure.
  void StartWriteBack(std::uint64_t bytes) {
    unqueued_ += bytes;
    if (unqueued_ < kWriteBehind) return;
#ifdef SYNC_FILE_RANGE_WRITE
    (void)::sync_file_range(outFd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    unqueued_ = 0;
  }

  int inFd_;
  int outFd_;
  const FaultHook& faultHook_;
  const std::u16string& path_;
  std::uint64_t written_ = 0;
  std::uint64_t copyFrom_ = 0;
  std::uint64_t copyTo_ = 0;
  std::uint64_t unqueued_ = 0;
};

// What a replaced entry's directory record must say.
struct ReplacedEntry {
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

std::uint16_t ReplacedFlags(std::uint64_t flags, std::uint16_t method) {
  flags &= ~std::uint64_t{kFlagDataDescriptor};
  if (method == kMethodDeflated) flags &= ~std::uint64_t{kFlagDeflateOptions};  // normal level
  return static_cast<std::uint16_t>(flags);
}

void NeedZip64Version(std::string& header, std::size_t at) {
  const std::uint64_t version = LoadLe(header, at, 2);
  if ((version & 0xFF) < kZip64Version) StoreLe(header, at, (version & 0xFF00) | kZip64Version, 2);
}

std::string Deflate(std::string_view data, CompressorPtr& compressor, const std::u16string& path) {
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(kDeflateLevel));
  if (!compressor) {
    throw ServiceError(error_number::kPathFileAccessError,
                       u"Cannot write '" + path + u"': out of memory");
  }
  std::string out(libdeflate_deflate_compress_bound(compressor.get(), data.size()), '\0');
  const std::size_t n = libdeflate_deflate_compress(compressor.get(), data.data(), data.size(),
                                                    out.data(), out.size());
  if (n == 0) {  // cannot happen with a buffer of the bound's size
    throw ServiceError(error_number::kPathFileAccessError,
                       u"Cannot write '" + path + u"': compression failed");
  }
  out.resize(n);
  return out;
}

// Writes entry index's new local header and data, from its old local header.
ReplacedEntry WriteReplacedEntry(const ZipDirectory& dir, std::size_t index, std::string_view data,
                                 int inFd, PackageOutput& out, CompressorPtr& compressor,
                                 const std::u16string& path) {
  const CentralEntry& e = dir.entries[index];
  std::string header = ReadRange(inFd, e.localOffset, kLocalHeaderSize, path);
  if (header.size() != kLocalHeaderSize || header.compare(0, 4, kLocalSignature) != 0)
    throw Damaged(path, u"an entry's local header is missing");
  const std::size_t nameLength = LoadLe(header, local::kNameLength, 2);
  const std::size_t extraLength = LoadLe(header, local::kExtraLength, 2);
  if (nameLength + extraLength > e.extentEnd - e.localOffset - kLocalHeaderSize)
    throw Damaged(path, u"an entry's local header runs past its data");
  header += ReadRange(inFd, e.localOffset + kLocalHeaderSize, nameLength + extraLength, path);
  if (header.size() != kLocalHeaderSize + nameLength + extraLength)
    throw Damaged(path, u"shorter than its size");
  if (LoadLe(header, local::kMethod, 2) != e.method)
    throw Damaged(path, u"an entry's local header and directory record disagree");

  std::string compressed;
  std::string_view stored = data;
  if (e.method == kMethodDeflated) {
    compressed = Deflate(data, compressor, path);
    stored = compressed;
  }
  const ReplacedEntry replaced{libdeflate_crc32(0, data.data(), data.size()), stored.size(),
                               data.size()};

  StoreLe(header, local::kFlags, ReplacedFlags(LoadLe(header, local::kFlags, 2), e.method), 2);
  StoreLe(header, local::kCrc, replaced.crc, 4);
  const std::string_view extra = std::string_view(header).substr(kLocalHeaderSize + nameLength);
  const ExtraFields walk = WalkExtraFields(extra);
  const bool large =
      replaced.uncompressedSize >= kAllOnes32 || replaced.compressedSize >= kAllOnes32;
  if (walk.zip64 || large) {
    // A local zip64 block holds both sizes, and the header all ones.
    if (!walk.zip64 && !walk.wellFormed)
      throw Refused(path, dir, index, u"has damaged extra fields and grows past 4 GiB");
    Zip64Values values;
    values.uncompressed = replaced.uncompressedSize;
    values.compressed = replaced.compressedSize;
    const std::string newExtra = WithZip64Values(
        extra, walk, values, walk.zip64 ? std::min<std::size_t>(16, walk.zip64->length) : 0);
    if (newExtra.size() > kMaxExtraLength)
      throw Refused(path, dir, index, u"has too many extra fields to grow past 4 GiB");
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
  header.append(stored);
  out.Write(header);
  return replaced;
}

// Entry index's directory record for its new offset and, when replaced, its
// new data. Unchanged when neither changed.
std::string CentralRecord(const ZipDirectory& dir, std::size_t index, std::uint64_t offset,
                          const std::optional<ReplacedEntry>& replaced,
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
    throw Refused(path, dir, index, u"has damaged extra fields and moves past 4 GiB");
  Zip64Values values;
  if (inBlockUncompressed) values.uncompressed = uncompressed;
  if (inBlockCompressed) values.compressed = compressed;
  if (inBlockOffset) values.offset = offset;
  if (hadDisk) values.disk = 0;
  const std::size_t oldLength =
      (hadUncompressed ? 8 : 0) + (hadCompressed ? 8 : 0) + (hadOffset ? 8 : 0) + (hadDisk ? 4 : 0);
  const std::string newExtra = WithZip64Values(extra, e.extras, values, oldLength);
  if (newExtra.size() > kMaxExtraLength)
    throw Refused(path, dir, index, u"has too many extra fields to move past 4 GiB");
  record.resize(extraAt);
  record += newExtra;
  record += old.substr(extraAt + e.extraLength);
  StoreLe(record, central::kExtraLength, newExtra.size(), 2);
  if (values.Length() > oldLength) NeedZip64Version(record, central::kVersionNeeded);
  return record;
}

// The zip64 end record and locator, when the package had them or now needs
// them, and the end record; the comment follows.
void AppendEndRecords(const ZipDirectory& dir, std::uint64_t centralAt, std::uint64_t centralSize,
                      std::string& out) {
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
      AppendLe(record, 0, 16);  // directory size and offset, below
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
    StoreLe(locator, 8, centralAt + centralSize, 8);
    out += record;
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
}

}  // namespace

void WritePackageReplacing(const ZipDirectory& dir, int inFd, std::uint64_t size,
                           const std::map<std::uint64_t, std::string>& replacements, int outFd,
                           const FaultHook& faultHook, const std::u16string& path) {
  // Everything that can be refused is refused before the first byte is written.
  for (const auto& [index, data] : replacements) {
    if (index >= dir.entries.size()) {
      throw ServiceError(error_number::kDamagedPackage, u"Cannot write '" + path +
                                                            u"': it has no part number " +
                                                            FromUtf8(std::to_string(index)));
    }
    const CentralEntry& e = dir.entries[index];
    if (e.flags & kFlagEncrypted) throw Refused(path, dir, index, u"is encrypted");
    if (e.method != kMethodStored && e.method != kMethodDeflated)
      throw Refused(path, dir, index, u"is compressed in a way that cannot be written");
  }
  if (dir.endRecordAt + kEndRecordSize > size) throw Damaged(path, u"shorter than its size");

  PackageOutput out(inFd, outFd, faultHook, path);
  std::vector<std::uint64_t> offsets(dir.entries.size());
  std::vector<std::optional<ReplacedEntry>> replaced(dir.entries.size());
  CompressorPtr compressor;
  out.Copy(0, dir.firstLocal);
  for (const std::size_t i : dir.fileOrder) {
    const CentralEntry& e = dir.entries[i];
    offsets[i] = out.position();
    const auto found = replacements.find(i);
    if (found == replacements.end()) {
      out.Copy(e.localOffset, e.extentEnd);
    } else {
      replaced[i] = WriteReplacedEntry(dir, i, found->second, inFd, out, compressor, path);
    }
  }

  std::string tail;
  tail.reserve(dir.central.size() + kZip64RecordSize + kZip64LocatorSize + kEndRecordSize);
  for (std::size_t i = 0; i < dir.entries.size(); ++i)
    tail += CentralRecord(dir, i, offsets[i], replaced[i], path);
  const std::uint64_t centralAt = out.position();
  const std::uint64_t centralSize = tail.size();
  AppendEndRecords(dir, centralAt, centralSize, tail);
  out.Write(tail);
  out.Copy(dir.endRecordAt + kEndRecordSize, size);
  out.Flush();
}

void WritePackageReplacing(int inFd, std::uint64_t size,
                           const std::map<std::uint64_t, std::string>& replacements, int outFd,
                           const FaultHook& faultHook, const std::u16string& displayPath) {
  const ZipDirectory dir = ReadZipDirectory(inFd, size, displayPath);
  WritePackageReplacing(dir, inFd, size, replacements, outFd, faultHook, displayPath);
}

}  // namespace quavelle::docserver
