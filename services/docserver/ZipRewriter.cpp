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
#include "services/docserver/ZipRecords.h"

namespace quavelle::docserver {
namespace {

// libdeflate's middle level: most of the best level's ratio in a fraction of
// its time, and the "normal" setting in the header flags.
constexpr int kDeflateLevel = 6;
constexpr std::string_view kLocalSignature("PK\3\4", 4);
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
NewEntryData WriteReplacedEntry(const ZipDirectory& dir, std::size_t index, std::string_view data,
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
  if (LoadLe(header, local::kMethod, 2) != e.method ||
      (LoadLe(header, local::kFlags, 2) & kFlagEncrypted) != 0) {
    throw Damaged(path, u"an entry's local header and directory record disagree");
  }

  std::string compressed;
  std::string_view stored = data;
  if (e.method == kMethodDeflated) {
    compressed = Deflate(data, compressor, path);
    stored = compressed;
  }
  const NewEntryData replaced{libdeflate_crc32(0, data.data(), data.size()), stored.size(),
                              data.size()};

  header = ReplacedLocalHeader(header, nameLength, replaced, path);
  header.append(stored);
  out.Write(header);
  return replaced;
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
  std::vector<std::optional<NewEntryData>> replaced(dir.entries.size());
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
    tail += RewrittenCentralRecord(dir, i, offsets[i], replaced[i], path);
  const std::uint64_t centralAt = out.position();
  const std::uint64_t centralSize = tail.size();
  tail += EndRecords(dir, centralAt, centralSize);
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
