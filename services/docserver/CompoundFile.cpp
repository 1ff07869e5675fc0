#include "services/docserver/CompoundFile.h"

#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <array>
#include <cstring>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/FileWriting.h"

namespace quavelle::docserver {
namespace {

constexpr std::array<unsigned char, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                     0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifat = 109;
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kMaxTreeDepth = 1024;

std::uint16_t Get16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t Get32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(Get16(b, at)) | static_cast<std::uint32_t>(Get16(b, at + 2))
                                                        << 16;
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

std::u16string Number(std::uint64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

std::u16string Upper(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

}  // namespace

bool IsCompoundFile(std::string_view bytes) {
  return bytes.size() >= kSignature.size() &&
         std::memcmp(bytes.data(), kSignature.data(), kSignature.size()) == 0;
}

bool IsCompoundFile(int fd) {
  std::array<char, 8> head{};
  return ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
         IsCompoundFile(std::string_view(head.data(), head.size()));
}

void CompoundFile::Fail(std::u16string_view reason) const {
  throw ServiceError(error_number::kDamagedPackage, u"Cannot open '" + displayPath_ +
                                                        u"': damaged compound file (" +
                                                        std::u16string(reason) + u")");
}

CompoundFile::CompoundFile(std::string bytes, std::u16string displayPath)
    : owned_(std::move(bytes)), fileSize_(owned_.size()), displayPath_(std::move(displayPath)) {
  Read();
}

CompoundFile::CompoundFile(int fd, std::uint64_t size, std::u16string displayPath)
    : fd_(fd), fileSize_(size), displayPath_(std::move(displayPath)) {
  Read();
}

void CompoundFile::ReadInto(char* out, std::uint64_t at, std::size_t length) const {
  if (at > fileSize_ || length > fileSize_ - at) Fail(u"stream past the end of the file");
  if (fd_ < 0) {
    std::memcpy(out, owned_.data() + at, length);
    return;
  }
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(fd_, out + got, length - got, static_cast<off_t>(at + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ErrnoError(errno, u"Cannot read", displayPath_);
    if (n == 0) Fail(u"the file is shorter than it was");
    got += static_cast<std::size_t>(n);
  }
}

std::string CompoundFile::ReadBytes(std::uint64_t at, std::size_t length) const {
  std::string out(length, '\0');
  ReadInto(out.data(), at, length);
  return out;
}

void CompoundFile::Read() {
  header_ = ReadBytes(0, static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, kHeaderSize)));
  ReadHeader();
  ReadFat();
  ReadDirectory();
  ClaimChains();
  if (entries_[0].size > 0) miniStream_ = ReadChain(miniStreamChain_, entries_[0].size);
}

void CompoundFile::ReadHeader() {
  if (!IsCompoundFile(header_)) {
    // HTML, XML or text saved under a binary office name is no damaged file.
    throw ServiceError(error_number::kNotAPackage,
                       u"Cannot open '" + displayPath_ + u"': not a compound (binary office) file");
  }
  if (header_.size() < kHeaderSize) Fail(u"header cut short");
  const std::uint16_t major = Get16(header_, 26);
  const std::uint16_t shift = Get16(header_, 30);
  if (Get16(header_, 28) != 0xFFFE) Fail(u"byte order mark");
  if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) Fail(u"sector size");
  if (Get16(header_, 32) != 6) Fail(u"mini sector size");
  sectorSize_ = 1u << shift;
  miniCutoff_ = Get32(header_, 56);
  if (miniCutoff_ != 4096) Fail(u"mini stream cutoff");
  if (fileSize_ < sectorSize_) Fail(u"header sector cut short");
  if (sectorSize_ > kHeaderSize) header_ = ReadBytes(0, sectorSize_);
  fileSectors_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(
      (fileSize_ - sectorSize_ + sectorSize_ - 1) / sectorSize_, kMaxRegularSector));
  firstDirSector_ = Get32(header_, 48);
  firstMiniFat_ = Get32(header_, 60);
  firstDifat_ = Get32(header_, 68);
}

std::string CompoundFile::Sector(std::uint32_t sector) const {
  const std::uint64_t at = (std::uint64_t{sector} + 1) * sectorSize_;
  if (sector >= fileSectors_ || at + sectorSize_ > fileSize_)
    Fail(u"sector " + Number(sector) + u" out of range");
  return ReadBytes(at, sectorSize_);
}

void CompoundFile::ReadFat() {
  const std::uint32_t fatCount = Get32(header_, 44);
  if (fatCount > fileSectors_) Fail(u"more FAT sectors than the file holds");
  for (std::size_t i = 0; i < kHeaderDifat && fatSectors_.size() < fatCount; ++i)
    fatSectors_.push_back(Get32(header_, 76 + 4 * i));
  std::vector<bool> seen(fileSectors_, false);
  std::uint32_t next = firstDifat_;
  const std::uint32_t perDifat = sectorSize_ / 4 - 1;
  while (fatSectors_.size() < fatCount) {
    if (next >= fileSectors_) Fail(u"DIFAT sector " + Number(next) + u" out of range");
    if (seen[next]) Fail(u"DIFAT chain loops");
    seen[next] = true;
    difatSectors_.push_back(next);
    const std::string s = Sector(next);
    for (std::uint32_t i = 0; i < perDifat && fatSectors_.size() < fatCount; ++i)
      fatSectors_.push_back(Get32(s, 4 * i));
    next = Get32(s, 4 * perDifat);
  }
  fat_.resize(std::size_t{fatCount} * sectorSize_ / 4);
  std::string bytes;
  // Runs of adjacent FAT sectors are read in one call.
  for (std::size_t i = 0; i < fatSectors_.size();) {
    std::size_t run = 0;
    do {
      const std::uint32_t f = fatSectors_[i + run];
      if (f >= fileSectors_ || (std::uint64_t{f} + 2) * sectorSize_ > fileSize_)
        Fail(u"FAT sector " + Number(f) + u" out of range");
      ++run;
    } while (i + run < fatSectors_.size() && fatSectors_[i + run] == fatSectors_[i] + run);
    bytes.resize(run * sectorSize_);
    ReadInto(bytes.data(), (std::uint64_t{fatSectors_[i]} + 1) * sectorSize_, bytes.size());
    const std::size_t first = i * sectorSize_ / 4;
    for (std::size_t k = 0; k < bytes.size() / 4; ++k) fat_[first + k] = Get32(bytes, 4 * k);
    i += run;
  }
}

std::vector<std::uint32_t> CompoundFile::Chain(std::uint32_t start,
                                               const std::vector<std::uint32_t>& table,
                                               std::uint64_t limit,
                                               std::u16string_view what) const {
  std::vector<std::uint32_t> chain;
  std::vector<bool> seen(table.size(), false);
  for (std::uint32_t s = start; s != kEndOfChain; s = table[s]) {
    if (s >= table.size() || s >= limit)
      Fail(std::u16string(what) + u" sector " + Number(s) + u" out of range");
    if (seen[s]) Fail(std::u16string(what) + u" chain loops");
    seen[s] = true;
    chain.push_back(s);
  }
  return chain;
}

std::string CompoundFile::ReadChain(const std::vector<std::uint32_t>& chain,
                                    std::uint64_t size) const {
  if (size > chain.size() * std::uint64_t{sectorSize_}) Fail(u"stream size past its sectors");
  std::string out(static_cast<std::size_t>(size), '\0');
  // Runs of consecutive sectors are read in one call.
  std::size_t done = 0;
  for (std::size_t i = 0; done < out.size();) {
    std::size_t run = 1;
    while (i + run < chain.size() && chain[i + run] == chain[i] + run &&
           done + run * sectorSize_ < out.size())
      ++run;
    const std::size_t length = std::min<std::size_t>(run * sectorSize_, out.size() - done);
    if (chain[i] >= fileSectors_) Fail(u"sector " + Number(chain[i]) + u" out of range");
    ReadInto(out.data() + done, (std::uint64_t{chain[i]} + 1) * sectorSize_, length);
    done += length;
    i += run;
  }
  return out;
}

void CompoundFile::ReadDirectory() {
  dirChain_ = Chain(firstDirSector_, fat_, fileSectors_, u"directory");
  if (dirChain_.empty()) Fail(u"no directory");
  directory_ = ReadChain(dirChain_, dirChain_.size() * std::uint64_t{sectorSize_});
  const std::size_t perSector = sectorSize_ / kEntrySize;
  const std::size_t count = dirChain_.size() * perSector;
  entries_.resize(count);
  left_.resize(count);
  right_.resize(count);
  child_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string_view e = std::string_view(directory_).substr(i * kEntrySize, kEntrySize);
    CompoundEntry& entry = entries_[i];
    entry.type = static_cast<std::uint8_t>(e[66]);
    if (entry.type == CompoundEntry::kUnused) continue;
    const std::uint16_t nameBytes = Get16(e, 64);
    if (nameBytes > 64 || nameBytes % 2 != 0) Fail(u"directory entry " + Number(i) + u" name");
    for (std::size_t c = 0; c + 2 < nameBytes + 0u; c += 2) entry.name.push_back(Get16(e, c));
    left_[i] = Get32(e, 68);
    right_[i] = Get32(e, 72);
    child_[i] = Get32(e, 76);
    entry.start = Get32(e, 116);
    entry.size = Get32(e, 120);
    // Version 3 files may leave garbage in the size's high half.
    if (sectorSize_ == 4096) entry.size |= std::uint64_t{Get32(e, 124)} << 32;
  }
  if (entries_[0].type != CompoundEntry::kRoot) Fail(u"no root entry");
  std::vector<bool> seen(count, false);
  seen[0] = true;
  if (child_[0] != kNoStream) WalkTree(child_[0], 0, seen, 0);
  for (std::size_t i = 1; i < count; ++i) {
    if (!seen[i]) entries_[i].type = CompoundEntry::kUnused;  // not in the tree: not read
  }
}

void CompoundFile::WalkTree(std::uint32_t node, std::uint32_t parent, std::vector<bool>& seen,
                            std::size_t depth) {
  if (depth > kMaxTreeDepth) Fail(u"directory tree too deep");
  if (node >= entries_.size()) Fail(u"directory entry " + Number(node) + u" out of range");
  const std::uint8_t type = entries_[node].type;
  if (type != CompoundEntry::kStorage && type != CompoundEntry::kStream)
    Fail(u"directory entry " + Number(node) + u" of wrong type");
  if (seen[node]) Fail(u"directory tree loops");
  seen[node] = true;
  entries_[node].parent = parent;
  if (left_[node] != kNoStream) WalkTree(left_[node], parent, seen, depth + 1);
  if (right_[node] != kNoStream) WalkTree(right_[node], parent, seen, depth + 1);
  if (entries_[node].type == CompoundEntry::kStorage && child_[node] != kNoStream)
    WalkTree(child_[node], node, seen, depth + 1);
}

bool CompoundFile::InMiniStream(const CompoundEntry& entry) const {
  return entry.type == CompoundEntry::kStream && entry.size < miniCutoff_;
}

void CompoundFile::ClaimChains() {
  // Each sector belongs to one chain at most, so rewriting one stream cannot
  // touch another.
  std::vector<bool>& owned = ownedSectors_;
  owned.assign(fileSectors_, false);
  auto claim = [&](const std::vector<std::uint32_t>& chain, std::vector<bool>& map) {
    for (std::uint32_t s : chain) {
      if (map[s]) Fail(u"sector " + Number(s) + u" in two chains");
      map[s] = true;
    }
  };
  for (std::uint32_t s : fatSectors_) {
    if (owned[s]) Fail(u"FAT sector listed twice");
    owned[s] = true;
  }
  claim(difatSectors_, owned);
  claim(dirChain_, owned);
  const std::uint32_t miniFatCount = Get32(header_, 64);
  if (miniFatCount > 0 || firstMiniFat_ != kEndOfChain) {
    miniFatChain_ = Chain(firstMiniFat_, fat_, fileSectors_, u"mini FAT");
    claim(miniFatChain_, owned);
    std::string miniFatBytes =
        ReadChain(miniFatChain_, miniFatChain_.size() * std::uint64_t{sectorSize_});
    for (std::size_t i = 0; i + 4 <= miniFatBytes.size(); i += 4)
      miniFat_.push_back(Get32(miniFatBytes, i));
  }
  const CompoundEntry& root = entries_[0];
  if (root.size > 0) {
    miniStreamChain_ = Chain(root.start, fat_, fileSectors_, u"mini stream");
    if (root.size > miniStreamChain_.size() * std::uint64_t{sectorSize_})
      Fail(u"mini stream size past its sectors");
    claim(miniStreamChain_, owned);
  }
  const std::uint64_t miniSectors = root.size / kMiniSectorSize;
  std::vector<bool> miniOwned(miniFat_.size(), false);
  streamChains_.assign(entries_.size(), {});
  for (std::size_t i = 1; i < entries_.size(); ++i) {
    const CompoundEntry& e = entries_[i];
    if (e.type != CompoundEntry::kStream || e.size == 0) continue;
    if (e.size > fileSize_) Fail(u"stream '" + e.name + u"' larger than the file");
    if (InMiniStream(e)) {
      auto chain = Chain(e.start, miniFat_, miniSectors, u"mini stream");
      if (chain.size() * std::uint64_t{kMiniSectorSize} < e.size)
        Fail(u"size of '" + e.name + u"' past its sectors");
      claim(chain, miniOwned);
      streamChains_[i] = std::move(chain);
    } else {
      auto chain = Chain(e.start, fat_, fileSectors_, u"stream");
      if (chain.size() * std::uint64_t{sectorSize_} < e.size)
        Fail(u"size of '" + e.name + u"' past its sectors");
      claim(chain, owned);
      streamChains_[i] = std::move(chain);
    }
  }
}

std::optional<std::uint32_t> CompoundFile::Find(
    const std::vector<std::u16string_view>& path) const {
  std::uint32_t storage = 0;
  for (std::u16string_view name : path) {
    const std::u16string wanted = Upper(name);
    std::optional<std::uint32_t> found;
    for (std::uint32_t i = 1; i < entries_.size() && !found; ++i) {
      const CompoundEntry& e = entries_[i];
      if (e.type != CompoundEntry::kUnused && e.parent == storage && Upper(e.name) == wanted)
        found = i;
    }
    if (!found) return std::nullopt;
    storage = *found;
  }
  return storage;
}

std::string CompoundFile::ReadStream(std::uint32_t entry) const {
  const CompoundEntry& e = entries_.at(entry);
  if (e.type != CompoundEntry::kStream || e.size == 0) return {};
  if (!InMiniStream(e)) return ReadChain(Chain(e.start, fat_, fileSectors_, u"stream"), e.size);
  std::string out;
  out.reserve(static_cast<std::size_t>(e.size));
  for (std::uint32_t m :
       Chain(e.start, miniFat_, entries_[0].size / kMiniSectorSize, u"mini stream")) {
    if (out.size() >= e.size) break;
    out.append(std::string_view(miniStream_)
                   .substr(std::size_t{m} * kMiniSectorSize,
                           static_cast<std::size_t>(
                               std::min<std::uint64_t>(kMiniSectorSize, e.size - out.size()))));
  }
  return out;
}

std::vector<std::uint32_t> CompoundFile::StreamChain(std::uint32_t entry) const {
  const CompoundEntry& e = entries_.at(entry);
  if (e.type != CompoundEntry::kStream || e.size == 0) return {};
  return streamChains_.at(entry);
}

void CompoundFile::ReadStreamPart(std::uint32_t entry, const std::vector<std::uint32_t>& chain,
                                  std::uint64_t at, char* out, std::size_t length) const {
  const CompoundEntry& e = entries_.at(entry);
  if (at > e.size || length > e.size - at) Fail(u"read past the end of '" + e.name + u"'");
  const bool mini = InMiniStream(e);
  const std::uint64_t unit = mini ? kMiniSectorSize : sectorSize_;
  if (at + length > chain.size() * unit) Fail(u"stream size past its sectors");
  std::size_t done = 0;
  while (done < length) {
    const std::uint64_t pos = at + done;
    const std::size_t i = static_cast<std::size_t>(pos / unit);
    const std::uint64_t inSector = pos % unit;
    std::size_t run = 1;
    while (i + run < chain.size() && chain[i + run] == chain[i] + run &&
           run * unit - inSector < length - done)
      ++run;
    const auto part =
        static_cast<std::size_t>(std::min<std::uint64_t>(run * unit - inSector, length - done));
    if (mini) {
      const std::uint64_t from = std::uint64_t{chain[i]} * unit + inSector;
      if (from + part > miniStream_.size()) Fail(u"mini stream sector out of range");
      std::memcpy(out + done, miniStream_.data() + from, part);
    } else {
      if (chain[i] >= fileSectors_) Fail(u"sector " + Number(chain[i]) + u" out of range");
      ReadInto(out + done, (std::uint64_t{chain[i]} + 1) * unit + inSector, part);
    }
    done += part;
  }
}

// The edited copy of a compound file's tables while a new file is planned.
class CompoundRewrite {
 public:
  explicit CompoundRewrite(const CompoundFile& file)
      : f_(file),
        ss_(file.sectorSize_),
        fat_(file.fat_),
        miniFat_(file.miniFat_),
        fatSectors_(file.fatSectors_),
        difatSectors_(file.difatSectors_),
        sectorCount_(file.fileSectors_),
        header_(file.header_),
        directory_(file.directory_) {}

  void Replace(std::uint32_t index, const std::string& bytes) {
    const CompoundEntry& e = f_.entries_.at(index);
    const bool wasMini = e.size > 0 && f_.InMiniStream(e);
    const bool wasRegular = e.size > 0 && !wasMini;
    const bool toMini = bytes.size() < f_.miniCutoff_;
    std::vector<std::uint32_t> oldRegular, oldMini;
    if (wasRegular) oldRegular = f_.Chain(e.start, f_.fat_, f_.fileSectors_, u"stream");
    if (wasMini)
      oldMini =
          f_.Chain(e.start, f_.miniFat_, f_.entries_[0].size / kMiniSectorSize, u"mini stream");
    std::uint32_t start = kEndOfChain;
    if (toMini) {
      if (wasRegular) WriteRegular(oldRegular, {});
      start = WriteMini(oldMini, bytes);
    } else {
      if (wasMini) WriteMini(oldMini, {});
      start = WriteRegular(oldRegular, bytes);
    }
    SetEntry(index, bytes.empty() ? kEndOfChain : start, bytes.size());
  }

  void Finish() {
    if (miniStream_) {
      auto start = WriteRegular(f_.miniStreamChain_, *miniStream_);
      SetEntry(0, miniStream_->empty() ? kEndOfChain : start, miniStream_->size());
    }
    if (miniFat_ != f_.miniFat_) {
      std::string bytes;
      const std::size_t used = (miniFat_.size() * 4 + ss_ - 1) / ss_ * ss_;
      bytes.assign(used, '\xFF');
      for (std::size_t i = 0; i < miniFat_.size(); ++i) Put32(bytes, 4 * i, miniFat_[i]);
      const auto chain = f_.miniFatChain_;
      const std::uint32_t start = WriteRegular(chain, bytes);
      Put32(header_, 60, bytes.empty() ? kEndOfChain : start);
      Put32(header_, 64, static_cast<std::uint32_t>(bytes.size() / ss_));
    }
    for (std::size_t i = 0; i < f_.dirChain_.size(); ++i)
      Set(f_.dirChain_[i], directory_.substr(i * ss_, ss_));
    GrowFat();
    std::string fatBytes(fatSectors_.size() * ss_, '\xFF');
    for (std::size_t i = 0; i < fat_.size(); ++i) Put32(fatBytes, 4 * i, fat_[i]);
    for (std::size_t i = 0; i < fatSectors_.size(); ++i)
      Set(fatSectors_[i], fatBytes.substr(i * ss_, ss_));
    for (std::size_t i = 0; i < kHeaderDifat; ++i)
      Put32(header_, 76 + 4 * i, i < fatSectors_.size() ? fatSectors_[i] : kFreeSector);
    const std::uint32_t perDifat = ss_ / 4 - 1;
    for (std::size_t d = 0; d < difatSectors_.size(); ++d) {
      std::string s(ss_, '\xFF');
      for (std::uint32_t i = 0; i < perDifat; ++i) {
        const std::size_t k = kHeaderDifat + d * perDifat + i;
        if (k < fatSectors_.size()) Put32(s, 4 * i, fatSectors_[k]);
      }
      Put32(s, 4 * perDifat, d + 1 < difatSectors_.size() ? difatSectors_[d + 1] : kEndOfChain);
      Set(difatSectors_[d], s);
    }
    Put32(header_, 44, static_cast<std::uint32_t>(fatSectors_.size()));
    Put32(header_, 68, difatSectors_.empty() ? kEndOfChain : difatSectors_[0]);
    Put32(header_, 72, static_cast<std::uint32_t>(difatSectors_.size()));
  }

  void Emit(int inFd, int outFd, const FaultHook& hook) const {
    const std::u16string& path = f_.displayPath_;
    WriteAll(outFd, header_, hook, path);
    const std::uint64_t original = f_.fileSize_;
    std::uint64_t written = ss_;
    std::uint32_t s = 0;
    while (s < sectorCount_) {
      auto it = sectors_.find(s);
      if (it != sectors_.end()) {
        WriteAll(outFd, it->second, hook, path);
        written += ss_;
        ++s;
        continue;
      }
      std::uint32_t end = s;
      while (end < sectorCount_ && !sectors_.count(end)) ++end;
      const std::uint64_t from = (std::uint64_t{s} + 1) * ss_;
      const std::uint64_t to = std::min<std::uint64_t>((std::uint64_t{end} + 1) * ss_, original);
      if (to > from) CopyRange(inFd, from, to - from, outFd, hook, path);
      written += to > from ? to - from : 0;
      const std::uint64_t full = (std::uint64_t{end} + 1) * ss_;
      if (end < sectorCount_ && written < full)  // the original's last sector was cut short
        WriteAll(outFd, std::string(static_cast<std::size_t>(full - written), '\0'), hook, path);
      written = std::max(written, full);
      s = end;
    }
  }

 private:
  std::string OriginalSector(std::uint32_t s) const {
    if (s >= f_.fileSectors_) return {};
    const std::uint64_t at = (std::uint64_t{s} + 1) * ss_;
    return f_.ReadBytes(at,
                        static_cast<std::size_t>(std::min<std::uint64_t>(ss_, f_.fileSize_ - at)));
  }

  void Set(std::uint32_t s, std::string bytes) {
    bytes.resize(ss_, '\0');
    if (s < f_.fileSectors_ && OriginalSector(s) == bytes) {
      sectors_.erase(s);
      return;
    }
    sectors_[s] = std::move(bytes);
  }

  std::uint32_t Allocate() {
    for (; freeHint_ < sectorCount_ && freeHint_ < fat_.size(); ++freeHint_) {
      if (fat_[freeHint_] == kFreeSector &&
          (freeHint_ >= f_.ownedSectors_.size() || !f_.ownedSectors_[freeHint_])) {
        fat_[freeHint_] = kEndOfChain;
        return freeHint_++;
      }
    }
    if (sectorCount_ >= kMaxRegularSector) f_.Fail(u"no room for another sector");
    const std::uint32_t s = sectorCount_++;
    if (fat_.size() <= s) fat_.resize(std::size_t{s} + 1, kFreeSector);
    fat_[s] = kEndOfChain;
    return s;
  }

  // Stores bytes in the sectors of chain, taking more or freeing the rest.
  std::uint32_t WriteRegular(const std::vector<std::uint32_t>& chain, std::string_view bytes) {
    const std::size_t needed = (bytes.size() + ss_ - 1) / ss_;
    std::vector<std::uint32_t> sectors(chain.begin(),
                                       chain.begin() + std::min(needed, chain.size()));
    for (std::size_t i = needed; i < chain.size(); ++i) {
      fat_[chain[i]] = kFreeSector;
      Set(chain[i], {});  // nothing of the old bytes stays behind
    }
    while (sectors.size() < needed) sectors.push_back(Allocate());
    for (std::size_t i = 0; i < sectors.size(); ++i) {
      fat_[sectors[i]] = i + 1 < sectors.size() ? sectors[i + 1] : kEndOfChain;
      Set(sectors[i], std::string(bytes.substr(i * ss_, ss_)));
    }
    return sectors.empty() ? kEndOfChain : sectors[0];
  }

  std::uint32_t WriteMini(const std::vector<std::uint32_t>& chain, std::string_view bytes) {
    if (!miniStream_) miniStream_ = f_.miniStream_;
    std::string& mini = *miniStream_;
    const std::size_t needed = (bytes.size() + kMiniSectorSize - 1) / kMiniSectorSize;
    std::vector<std::uint32_t> sectors(chain.begin(),
                                       chain.begin() + std::min(needed, chain.size()));
    for (std::size_t i = needed; i < chain.size(); ++i) {
      miniFat_[chain[i]] = kFreeSector;
      std::fill_n(mini.begin() + std::size_t{chain[i]} * kMiniSectorSize, kMiniSectorSize, '\0');
    }
    std::uint32_t hint = 0;
    while (sectors.size() < needed) {
      const std::uint32_t inStream = static_cast<std::uint32_t>(mini.size() / kMiniSectorSize);
      while (hint < inStream && hint < miniFat_.size() && miniFat_[hint] != kFreeSector) ++hint;
      std::uint32_t m = hint;
      if (hint >= inStream || hint >= miniFat_.size()) {
        m = inStream;
        mini.resize((std::size_t{m} + 1) * kMiniSectorSize, '\0');
        if (miniFat_.size() <= m) miniFat_.resize(std::size_t{m} + 1, kFreeSector);
      }
      miniFat_[m] = kEndOfChain;
      sectors.push_back(m);
    }
    for (std::size_t i = 0; i < sectors.size(); ++i) {
      miniFat_[sectors[i]] = i + 1 < sectors.size() ? sectors[i + 1] : kEndOfChain;
      std::string_view part = bytes.substr(i * kMiniSectorSize, kMiniSectorSize);
      char* at = mini.data() + std::size_t{sectors[i]} * kMiniSectorSize;
      std::memcpy(at, part.data(), part.size());
      std::memset(at + part.size(), 0, kMiniSectorSize - part.size());
    }
    return sectors.empty() ? kEndOfChain : sectors[0];
  }

  void SetEntry(std::uint32_t index, std::uint32_t start, std::uint64_t size) {
    const std::size_t at = std::size_t{index} * kEntrySize;
    Put32(directory_, at + 116, start);
    Put32(directory_, at + 120, static_cast<std::uint32_t>(size));
    Put32(directory_, at + 124, static_cast<std::uint32_t>(size >> 32));
  }

  // Adds FAT sectors (and DIFAT sectors to list them) until the FAT covers
  // every sector, its own included.
  void GrowFat() {
    const std::size_t perFat = ss_ / 4;
    const std::size_t perDifat = ss_ / 4 - 1;
    while (fat_.size() > fatSectors_.size() * perFat) {
      const std::uint32_t s = Allocate();
      fat_[s] = kFatSector;
      fatSectors_.push_back(s);
      if (fatSectors_.size() > kHeaderDifat + difatSectors_.size() * perDifat) {
        const std::uint32_t d = Allocate();
        fat_[d] = kDifatSector;
        difatSectors_.push_back(d);
      }
    }
  }

  const CompoundFile& f_;
  const std::uint32_t ss_;
  std::vector<std::uint32_t> fat_, miniFat_, fatSectors_, difatSectors_;
  std::uint32_t sectorCount_;
  std::uint32_t freeHint_ = 0;
  std::string header_, directory_;
  std::optional<std::string> miniStream_;
  std::map<std::uint32_t, std::string> sectors_;
};

void CompoundFile::Write(const std::map<std::uint32_t, std::string>& replacements, int inFd,
                         int outFd, const FaultHook& faultHook) const {
  CompoundRewrite rewrite(*this);
  for (const auto& [index, bytes] : replacements) {
    if (index == 0 || index >= entries_.size() || entries_[index].type != CompoundEntry::kStream)
      Fail(u"no stream to replace");
    rewrite.Replace(index, bytes);
  }
  rewrite.Finish();
  rewrite.Emit(inFd, outFd, faultHook);
}

}  // namespace quavelle::docserver
