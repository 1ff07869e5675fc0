#include "services/docserver/ZipArchive.h"

#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/FileCopy.h"
#include "services/docserver/PackageFile.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kLocator64Signature = 0x07064b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEnd64Size = 56;
constexpr std::size_t kLocator64Size = 20;
constexpr std::uint16_t kZip64Tag = 0x0001;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint16_t kMax16 = 0xFFFF;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
// Bit 0: encrypted; bit 6: strong encryption; bit 13: the directory is masked.
constexpr std::uint16_t kEncryptedFlags = 0x0001 | 0x0040 | 0x2000;
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;
constexpr std::uint16_t kLevelFlags = 0x0006;
// Parts whose compressed data is at most this large are read whole, with
// their local header, and inflated in one call; larger ones stream.
constexpr std::uint64_t kWholeReadLimit = std::uint64_t{16} << 20;
// Room read after the name for a local extra field, so that one read
// usually brings header and data.
constexpr std::size_t kLocalExtraGuess = 64;
constexpr std::uint64_t kMaxDirectorySize = std::uint64_t{256} << 20;

struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};

std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}
std::uint64_t Get64(const unsigned char* p) {
  return std::uint64_t{Get32(p)} | (std::uint64_t{Get32(p + 4)} << 32);
}
void Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Append16(std::string& out, std::uint16_t v) {
  unsigned char b[2];
  Put16(b, v);
  out.append(reinterpret_cast<const char*>(b), 2);
}
void Append32(std::string& out, std::uint32_t v) {
  unsigned char b[4];
  Put32(b, v);
  out.append(reinterpret_cast<const char*>(b), 4);
}
void Append64(std::string& out, std::uint64_t v) {
  unsigned char b[8];
  Put64(b, v);
  out.append(reinterpret_cast<const char*>(b), 8);
}
const unsigned char* Bytes(const std::string& s, std::size_t at = 0) {
  return reinterpret_cast<const unsigned char*>(s.data()) + at;
}

// One entry as the central directory describes it.
struct Entry {
  std::string name;
  std::uint64_t localOffset = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::size_t record = 0;        // where its central record starts in the directory bytes
  std::size_t recordLength = 0;  // fixed part, name, extra field and comment
  std::size_t extraAt = 0;       // its extra field, relative to the record
  std::size_t extraLength = 0;
  // Where the zip64 extra field holds the local header offset, relative to
  // the record; 0 when the 32-bit field holds it.
  std::size_t offset64At = 0;
};

template <std::size_t N>
bool StartsWith(int fd, const std::array<unsigned char, N>& signature) {
  std::array<unsigned char, N> head{};
  ssize_t n = ::pread(fd, head.data(), head.size(), 0);
  return n == static_cast<ssize_t>(head.size()) && head == signature;
}

// Encrypted Office Open XML and the older binary formats are compound files.
constexpr std::array<unsigned char, 8> kCompoundFile = {0xD0, 0xCF, 0x11, 0xE0,
                                                        0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<unsigned char, 4> kLocalHeader = {'P', 'K', 3, 4};

// Reads exactly length bytes at offset; false when the file ends first.
bool ReadAt(int fd, std::uint64_t offset, void* into, std::size_t length, int& error) {
  std::size_t got = 0;
  while (got < length) {
    ssize_t n =
        ::pread(fd, static_cast<char*>(into) + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      return false;
    }
    if (n == 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Walks the tag/length records of an extra field; false when they do not fit it.
template <typename Visit>
bool ForEachExtra(const unsigned char* extra, std::size_t length, Visit visit) {
  std::size_t at = 0;
  while (at + 4 <= length) {
    std::uint16_t tag = Get16(extra + at);
    std::size_t size = Get16(extra + at + 2);
    if (at + 4 + size > length) return false;
    visit(tag, at, size);
    at += 4 + size;
  }
  return at == length;
}

}  // namespace

struct ZipArchive::Impl {
  const PackageFile& file;
  std::u16string path;
  std::uint64_t fileSize = 0;
  std::string directory;  // the central directory as stored
  std::uint64_t directoryOffset = 0;
  std::string comment;
  bool zip64End = false;  // the package ends with zip64 records
  std::vector<Entry> entries;
  mutable std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor;

  Impl(const PackageFile& f, std::u16string p) : file(f), path(std::move(p)) {}

  ServiceError Damaged(std::u16string_view why, std::u16string_view action = u"Cannot open") const {
    return ServiceError(error_number::kDamagedPackage, std::u16string(action) + u" '" + path +
                                                           u"': damaged package (" +
                                                           std::u16string(why) + u")");
  }

  void Read(std::uint64_t offset, void* into, std::size_t length,
            std::u16string_view action = u"Cannot open") const {
    int error = 0;
    if (!ReadAt(file.fd(), offset, into, length, error)) {
      if (error != 0) throw ErrnoError(error, action, path);
      throw Damaged(u"truncated", action);
    }
  }

  // The offset of the end record, or the reason the file is no package.
  std::uint64_t FindEnd() {
    if (fileSize < kEndSize) throw NotAPackage();
    // Most packages have no comment: then the last 22 bytes are the end record.
    unsigned char last[kEndSize];
    Read(fileSize - kEndSize, last, kEndSize);
    if (Get32(last) == kEndSignature && Get16(last + 20) == 0) {
      return fileSize - kEndSize;
    }
    const std::size_t tailSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize + kMax16));
    std::string tail(tailSize, '\0');
    Read(fileSize - tailSize, tail.data(), tailSize);
    for (std::size_t at = tailSize - kEndSize + 1; at-- > 0;) {
      const unsigned char* p = Bytes(tail, at);
      if (Get32(p) == kEndSignature && at + kEndSize + Get16(p + 20) == tailSize) {
        return fileSize - tailSize + at;
      }
    }
    throw NotAPackage();
  }

  ServiceError NotAPackage() const {
    if (StartsWith(file.fd(), kCompoundFile)) {
      return ServiceError(
          error_number::kEncryptedDocument,
          u"Cannot open '" + path + u"': an encrypted or binary office file, not a zip package");
    }
    if (StartsWith(file.fd(), kLocalHeader)) {
      return Damaged(u"truncated: its directory is missing");
    }
    return ServiceError(error_number::kNotAPackage,
                        u"Cannot open '" + path + u"': not a zip package");
  }

  void ReadDirectory() {
    fileSize = file.identity().size;
    const std::uint64_t endAt = FindEnd();
    unsigned char end[kEndSize];
    Read(endAt, end, kEndSize);
    const std::uint16_t commentLength = Get16(end + 20);
    comment.resize(commentLength);
    Read(endAt + kEndSize, comment.data(), commentLength);

    std::uint64_t count = Get16(end + 10);
    std::uint64_t directorySize = Get32(end + 12);
    directoryOffset = Get32(end + 16);
    if (Get16(end + 4) != 0 || Get16(end + 6) != 0 || Get16(end + 8) != Get16(end + 10)) {
      throw Damaged(u"split over several disks");
    }
    std::uint64_t directoryEnd = endAt;

    unsigned char locator[kLocator64Size];
    if (endAt >= kLocator64Size) {
      Read(endAt - kLocator64Size, locator, kLocator64Size);
      zip64End = Get32(locator) == kLocator64Signature;
    }
    if (zip64End) {
      const std::uint64_t end64At = Get64(locator + 8);
      if (Get32(locator + 4) != 0 || Get32(locator + 16) > 1) {
        throw Damaged(u"split over several disks");
      }
      if (end64At > endAt - kLocator64Size || endAt - kLocator64Size - end64At < kEnd64Size) {
        throw Damaged(u"the zip64 end record is out of place");
      }
      unsigned char end64[kEnd64Size];
      Read(end64At, end64, kEnd64Size);
      if (Get32(end64) != kEnd64Signature || Get64(end64 + 4) < kEnd64Size - 12 ||
          end64At + 12 + Get64(end64 + 4) != endAt - kLocator64Size) {
        throw Damaged(u"the zip64 end record is inconsistent");
      }
      if (Get32(end64 + 16) != 0 || Get32(end64 + 20) != 0 ||
          Get64(end64 + 24) != Get64(end64 + 32)) {
        throw Damaged(u"split over several disks");
      }
      count = Get64(end64 + 32);
      directorySize = Get64(end64 + 40);
      directoryOffset = Get64(end64 + 48);
      directoryEnd = end64At;
    } else if (count == kMax16 || directorySize == kMax32 || directoryOffset == kMax32) {
      throw Damaged(u"the zip64 end record is missing");
    }
    if (directoryOffset > directoryEnd || directorySize != directoryEnd - directoryOffset) {
      throw Damaged(u"the directory is not where the end record says");
    }
    // Each entry takes at least a fixed-size record.
    if (count > directorySize / kCentralSize) throw Damaged(u"the directory is too short");
    // The directory is held in memory; no office package comes near this.
    if (directorySize > kMaxDirectorySize) throw Damaged(u"the directory is implausibly large");

    directory.resize(static_cast<std::size_t>(directorySize));
    Read(directoryOffset, directory.data(), directory.size());
    entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, 4096)));
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (directory.size() - at < kCentralSize) throw Damaged(u"the directory is too short");
      const unsigned char* p = Bytes(directory, at);
      if (Get32(p) != kCentralSignature) throw Damaged(u"a directory record is damaged");
      Entry e;
      e.flags = Get16(p + 8);
      e.method = Get16(p + 10);
      e.crc = Get32(p + 16);
      e.compressedSize = Get32(p + 20);
      e.size = Get32(p + 24);
      const std::size_t nameLength = Get16(p + 28);
      e.extraLength = Get16(p + 30);
      const std::size_t commentLength = Get16(p + 32);
      const std::uint16_t disk = Get16(p + 34);
      e.localOffset = Get32(p + 42);
      e.recordLength = kCentralSize + nameLength + e.extraLength + commentLength;
      if (directory.size() - at < e.recordLength) throw Damaged(u"the directory is too short");
      e.record = at;
      e.name.assign(directory, at + kCentralSize, nameLength);
      e.extraAt = kCentralSize + nameLength;
      ReadZip64Fields(e, disk);
      if (e.localOffset >= directoryOffset || directoryOffset - e.localOffset < kLocalSize) {
        throw Damaged(u"an entry lies outside the package data");
      }
      entries.push_back(std::move(e));
      at += entries.back().recordLength;
    }
    if (at != directory.size()) throw Damaged(u"the directory holds more than its entries");
  }

  void ReadZip64Fields(Entry& e, std::uint16_t disk) {
    const bool needed =
        e.size == kMax32 || e.compressedSize == kMax32 || e.localOffset == kMax32 || disk == kMax16;
    if (!needed) {
      if (disk != 0) throw Damaged(u"split over several disks");
      return;
    }
    const unsigned char* extra = Bytes(directory, e.record + e.extraAt);
    bool found = false;
    bool fits = true;
    const bool wellFormed = ForEachExtra(
        extra, e.extraLength, [&](std::uint16_t tag, std::size_t at, std::size_t size) {
          if (tag != kZip64Tag || found) return;
          found = true;
          std::size_t field = at + 4;
          const std::size_t fieldEnd = at + 4 + size;
          // The field holds, in this order, only the values marked in the record.
          auto take = [&](std::uint64_t& value, std::size_t* position) {
            if (value != kMax32) return;
            if (fieldEnd - field < 8) {
              fits = false;
              return;
            }
            value = Get64(extra + field);
            if (position != nullptr) *position = e.extraAt + field;
            field += 8;
          };
          take(e.size, nullptr);
          take(e.compressedSize, nullptr);
          take(e.localOffset, &e.offset64At);
          if (disk == kMax16 && (fieldEnd - field < 4 || Get32(extra + field) != 0)) fits = false;
        });
    if (!wellFormed || !found || !fits) throw Damaged(u"an entry's zip64 sizes are missing");
  }

  std::string Inflate(std::uint64_t dataAt, const Entry& e, std::uint64_t limit,
                      const std::u16string& part) const {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
      throw ServiceError(error_number::kPathFileAccessError,
                         u"Cannot read '" + path + u"': out of memory");
    }
    struct End {
      z_stream* z;
      ~End() { inflateEnd(z); }
    } end{&z};

    std::string data;
    // The declared size is a hint only: a lying directory is caught below.
    data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(e.size, limit) + 1));
    std::vector<unsigned char> input(
        static_cast<std::size_t>(std::min<std::uint64_t>(e.compressedSize, 1u << 20)));
    std::uint64_t consumed = 0;
    std::size_t produced = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
      if (z.avail_in == 0) {
        const std::size_t chunk = static_cast<std::size_t>(
            std::min<std::uint64_t>(input.size(), e.compressedSize - consumed));
        if (chunk == 0) throw Damaged(u"part '" + part + u"' is cut short", u"Cannot read");
        Read(dataAt + consumed, input.data(), chunk, u"Cannot read");
        consumed += chunk;
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(chunk);
      }
      if (produced == data.size()) {
        // One byte past the limit is enough to know it is too large.
        if (produced > limit) break;
        data.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(std::max<std::size_t>(data.size() * 2, 4096), limit + 1)));
      }
      z.next_out = reinterpret_cast<Bytef*>(data.data() + produced);
      z.avail_out = static_cast<uInt>(std::min<std::size_t>(data.size() - produced, 1u << 30));
      const uInt before = z.avail_out;
      status = inflate(&z, Z_NO_FLUSH);
      produced += before - z.avail_out;
      if (status == Z_MEM_ERROR) {
        throw ServiceError(error_number::kPathFileAccessError,
                           u"Cannot read '" + path + u"': out of memory");
      }
      const bool stuck = status == Z_BUF_ERROR && z.avail_in > 0 && z.avail_out > 0;
      if ((status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) || stuck) {
        throw Damaged(u"part '" + part + u"' does not inflate", u"Cannot read");
      }
    }
    if (produced > limit) {
      throw ServiceError(error_number::kPartTooLarge, u"Cannot read '" + path + u"': part '" +
                                                          part + u"' inflates past the size limit");
    }
    data.resize(produced);
    if (produced != e.size) {
      throw Damaged(u"part '" + part + u"' inflates to another size than declared", u"Cannot read");
    }
    return data;
  }

  // The entry's local header and compressed data, read together; dataStart
  // is where the data begins in what is returned.
  std::string ReadLocalRecord(const Entry& e, std::size_t& dataStart) const {
    const std::uint64_t room = directoryOffset - e.localOffset;
    const std::uint64_t want = kLocalSize + e.name.size() + kLocalExtraGuess + e.compressedSize;
    std::string raw(static_cast<std::size_t>(std::min(want, room)), '\0');
    if (raw.size() < kLocalSize) throw Damaged(u"a local header is cut short", u"Cannot read");
    Read(e.localOffset, raw.data(), raw.size(), u"Cannot read");
    const unsigned char* local = Bytes(raw);
    if (Get32(local) != kLocalSignature) {
      throw Damaged(u"a local header is damaged", u"Cannot read");
    }
    dataStart = kLocalSize + std::size_t{Get16(local + 26)} + Get16(local + 28);
    if (dataStart > room || room - dataStart < e.compressedSize) {
      throw Damaged(u"an entry's data runs past the package data", u"Cannot read");
    }
    const std::size_t read = raw.size();
    raw.resize(static_cast<std::size_t>(dataStart + e.compressedSize));
    // A local extra field longer than guessed: the rest of the data follows.
    if (raw.size() > read) {
      Read(e.localOffset + read, raw.data() + read, raw.size() - read, u"Cannot read");
    }
    return raw;
  }

  // Inflates all of the entry's data into exactly its declared size. False
  // when it would inflate to more; a stream that is damaged or ends short
  // fails.
  bool InflateWhole(const unsigned char* compressed, const Entry& e, std::string& data) const {
    if (!decompressor) {
      decompressor.reset(libdeflate_alloc_decompressor());
      if (!decompressor) {
        throw ServiceError(error_number::kPathFileAccessError,
                           u"Cannot read '" + path + u"': out of memory");
      }
    }
    data.resize(static_cast<std::size_t>(e.size));
    std::size_t in = 0;
    std::size_t out = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        decompressor.get(), compressed, static_cast<std::size_t>(e.compressedSize), data.data(),
        data.size(), &in, &out);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE) return false;
    const std::u16string part = FromUtf8(e.name);
    if (result != LIBDEFLATE_SUCCESS) {
      throw Damaged(u"part '" + part + u"' does not inflate", u"Cannot read");
    }
    if (out != data.size()) {
      throw Damaged(u"part '" + part + u"' inflates to another size than declared", u"Cannot read");
    }
    return true;
  }

  // The offset of the entry's data, after its local header.
  std::uint64_t DataOffset(const Entry& e, std::u16string_view action) const {
    unsigned char local[kLocalSize];
    Read(e.localOffset, local, kLocalSize, action);
    if (Get32(local) != kLocalSignature) throw Damaged(u"a local header is damaged", action);
    const std::uint64_t data = e.localOffset + kLocalSize + Get16(local + 26) + Get16(local + 28);
    if (data > directoryOffset || directoryOffset - data < e.compressedSize) {
      throw Damaged(u"an entry's data runs past the package data", action);
    }
    return data;
  }
};

ZipArchive::ZipArchive(const PackageFile& file, std::u16string documentPath)
    : impl_(std::make_unique<Impl>(file, std::move(documentPath))) {
  impl_->ReadDirectory();
}

ZipArchive::~ZipArchive() = default;

std::uint64_t ZipArchive::EntryCount() const { return impl_->entries.size(); }

std::string ZipArchive::EntryName(std::uint64_t index) const {
  if (index >= impl_->entries.size()) {
    throw impl_->Damaged(u"no such entry", u"Cannot read");
  }
  return impl_->entries[static_cast<std::size_t>(index)].name;
}

std::optional<std::uint64_t> ZipArchive::Find(std::string_view name) const {
  const auto& entries = impl_->entries;
  auto it =
      std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
  if (it == entries.end()) return std::nullopt;
  return static_cast<std::uint64_t>(it - entries.begin());
}

std::string ZipArchive::ReadEntry(std::uint64_t index, std::uint64_t limit) const {
  const Impl& m = *impl_;
  if (index >= m.entries.size()) throw m.Damaged(u"no such entry", u"Cannot read");
  const Entry& e = m.entries[static_cast<std::size_t>(index)];
  const std::u16string part = FromUtf8(e.name);
  auto tooLarge = [&] {
    return ServiceError(error_number::kPartTooLarge, u"Cannot read '" + m.path + u"': part '" +
                                                         part + u"' inflates past the size limit");
  };
  if (e.size > limit) throw tooLarge();
  if (e.flags & kEncryptedFlags) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot read '" + m.path + u"': part '" + part + u"' is encrypted");
  }
  if (e.method != kMethodStored && e.method != kMethodDeflated) {
    throw m.Damaged(u"part '" + part + u"' uses an unsupported compression method", u"Cannot read");
  }
  std::string data;
  if (e.method == kMethodStored && e.compressedSize != e.size) {
    throw m.Damaged(u"part '" + part + u"' has inconsistent sizes", u"Cannot read");
  }
  if (e.compressedSize <= kWholeReadLimit) {
    std::size_t dataStart = 0;
    const std::string raw = m.ReadLocalRecord(e, dataStart);
    if (e.method == kMethodStored) {
      data.assign(raw, dataStart, static_cast<std::size_t>(e.size));
    } else if (!m.InflateWhole(Bytes(raw, dataStart), e, data)) {
      // It inflates past its declared size: streaming finds out by how much.
      data = m.Inflate(e.localOffset + dataStart, e, limit, part);
    }
  } else {
    const std::uint64_t dataAt = m.DataOffset(e, u"Cannot read");
    if (e.method == kMethodStored) {
      data.resize(static_cast<std::size_t>(e.size));
      m.Read(dataAt, data.data(), data.size(), u"Cannot read");
    } else {
      data = m.Inflate(dataAt, e, limit, part);
    }
  }
  if (libdeflate_crc32(0, data.data(), data.size()) != e.crc) {
    throw m.Damaged(u"part '" + part + u"' fails its checksum", u"Cannot read");
  }
  return data;
}

namespace {

// The data of a replaced entry as it goes into the package.
struct Packed {
  std::string bytes;
  std::uint16_t method = 0;
};

Packed Pack(std::string_view data, bool stored, const std::u16string& path) {
  if (stored) return {std::string(data), kMethodStored};
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw ServiceError(error_number::kPathFileAccessError,
                       u"Cannot write '" + path + u"': out of memory");
  }
  struct End {
    z_stream* z;
    ~End() { deflateEnd(z); }
  } end{&z};
  Packed packed{std::string(deflateBound(&z, static_cast<uLong>(data.size())), '\0'),
                kMethodDeflated};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.bytes.data());
  z.avail_out = static_cast<uInt>(packed.bytes.size());
  if (data.size() > std::numeric_limits<uInt>::max() / 2 || deflate(&z, Z_FINISH) != Z_STREAM_END) {
    throw ServiceError(error_number::kPathFileAccessError,
                       u"Cannot write '" + path + u"': the part cannot be compressed");
  }
  packed.bytes.resize(z.total_out);
  return packed;
}

// The extra field without its zip64 record, which is written anew; an extra
// field that does not parse is dropped whole.
std::string ExtraWithoutZip64(const unsigned char* extra, std::size_t length) {
  std::string kept;
  const bool wellFormed =
      ForEachExtra(extra, length, [&](std::uint16_t tag, std::size_t at, std::size_t size) {
        if (tag != kZip64Tag) kept.append(reinterpret_cast<const char*>(extra + at), 4 + size);
      });
  return wellFormed ? kept : std::string();
}

}  // namespace

void ZipArchive::WriteReplacingEntry(std::uint64_t index, std::string_view data, int outFd,
                                     const FaultHook& faultHook) const {
  const Impl& m = *impl_;
  const std::u16string& path = m.path;
  if (index >= m.entries.size()) throw m.Damaged(u"no such entry", u"Cannot write");
  const Entry& old = m.entries[static_cast<std::size_t>(index)];
  const int inFd = m.file.fd();

  // The replaced entry runs from its local header to the next one (or the
  // directory), so a data descriptor after it goes with it.
  std::uint64_t oldEnd = m.directoryOffset;
  for (const Entry& e : m.entries) {
    if (&e == &old) continue;
    if (e.localOffset == old.localOffset)
      throw m.Damaged(u"two entries share their data", u"Cannot write");
    if (e.localOffset > old.localOffset) oldEnd = std::min(oldEnd, e.localOffset);
  }
  if (m.DataOffset(old, u"Cannot write") + old.compressedSize > oldEnd) {
    throw m.Damaged(u"entries overlap", u"Cannot write");
  }
  unsigned char oldLocal[kLocalSize];
  m.Read(old.localOffset, oldLocal, kLocalSize, u"Cannot write");
  std::string localExtra(Get16(oldLocal + 28), '\0');
  m.Read(old.localOffset + kLocalSize + Get16(oldLocal + 26), localExtra.data(), localExtra.size(),
         u"Cannot write");
  localExtra = ExtraWithoutZip64(Bytes(localExtra), localExtra.size());

  // A stored entry (an OpenDocument mimetype) stays stored.
  const Packed packed = Pack(data, old.method == kMethodStored, path);
  const std::uint32_t crc = libdeflate_crc32(0, data.data(), data.size());
  const bool bigEntry = data.size() >= kMax32 || packed.bytes.size() >= kMax32;
  // Bits 1 and 2 tell the old data's compression level, which no longer holds.
  const std::uint16_t flags =
      static_cast<std::uint16_t>(old.flags & ~(kDataDescriptorFlag | kLevelFlags));
  const unsigned char* oldRecord = Bytes(m.directory, old.record);

  std::string local;
  Append32(local, kLocalSignature);
  Append16(local, bigEntry ? 45 : 20);
  Append16(local, flags);
  Append16(local, packed.method);
  local.append(reinterpret_cast<const char*>(oldRecord + 12), 4);  // time and date
  Append32(local, crc);
  Append32(local, bigEntry ? kMax32 : static_cast<std::uint32_t>(packed.bytes.size()));
  Append32(local, bigEntry ? kMax32 : static_cast<std::uint32_t>(data.size()));
  Append16(local, static_cast<std::uint16_t>(old.name.size()));
  std::string zip64Local;
  if (bigEntry) {
    Append16(zip64Local, kZip64Tag);
    Append16(zip64Local, 16);
    Append64(zip64Local, data.size());
    Append64(zip64Local, packed.bytes.size());
  }
  if (localExtra.size() + zip64Local.size() > kMax16) localExtra.clear();
  Append16(local, static_cast<std::uint16_t>(localExtra.size() + zip64Local.size()));
  local += old.name;
  local += zip64Local;
  local += localExtra;

  const std::uint64_t newEnd = old.localOffset + local.size() + packed.bytes.size();
  auto moved = [&](std::uint64_t offset) {
    return offset > old.localOffset ? offset - oldEnd + newEnd : offset;
  };
  const std::uint64_t newDirectoryOffset = moved(m.directoryOffset);

  std::string directory;
  directory.reserve(m.directory.size() + 64);
  for (const Entry& e : m.entries) {
    const std::size_t at = directory.size();
    if (&e != &old) {
      directory.append(m.directory, e.record, e.recordLength);
      const std::uint64_t offset = moved(e.localOffset);
      if (e.offset64At != 0) {
        Put64(reinterpret_cast<unsigned char*>(directory.data()) + at + e.offset64At, offset);
      } else if (offset >= kMax32) {
        throw ServiceError(error_number::kPathFileAccessError,
                           u"Cannot write '" + path + u"': the package would grow past 4 GiB");
      } else {
        Put32(reinterpret_cast<unsigned char*>(directory.data()) + at + 42,
              static_cast<std::uint32_t>(offset));
      }
      continue;
    }
    const bool bigOffset = old.localOffset >= kMax32;
    std::string zip64;
    if (bigEntry || bigOffset) {
      Append16(zip64, kZip64Tag);
      Append16(zip64, static_cast<std::uint16_t>((bigEntry ? 16 : 0) + (bigOffset ? 8 : 0)));
      if (bigEntry) {
        Append64(zip64, data.size());
        Append64(zip64, packed.bytes.size());
      }
      if (bigOffset) Append64(zip64, old.localOffset);
    }
    std::string extra = ExtraWithoutZip64(oldRecord + old.extraAt, old.extraLength);
    if (extra.size() + zip64.size() > kMax16) extra.clear();
    const std::size_t commentLength = Get16(oldRecord + 32);
    directory.append(reinterpret_cast<const char*>(oldRecord), 6);  // signature, made by
    Append16(directory, (bigEntry || bigOffset) ? 45 : 20);
    Append16(directory, flags);
    Append16(directory, packed.method);
    directory.append(reinterpret_cast<const char*>(oldRecord + 12), 4);
    Append32(directory, crc);
    Append32(directory, bigEntry ? kMax32 : static_cast<std::uint32_t>(packed.bytes.size()));
    Append32(directory, bigEntry ? kMax32 : static_cast<std::uint32_t>(data.size()));
    Append16(directory, static_cast<std::uint16_t>(old.name.size()));
    Append16(directory, static_cast<std::uint16_t>(zip64.size() + extra.size()));
    Append16(directory, static_cast<std::uint16_t>(commentLength));
    Append16(directory, 0);                                              // disk
    directory.append(reinterpret_cast<const char*>(oldRecord + 36), 6);  // attributes
    Append32(directory, bigOffset ? kMax32 : static_cast<std::uint32_t>(old.localOffset));
    directory += old.name;
    directory += zip64;
    directory += extra;
    directory.append(m.directory, old.record + old.extraAt + old.extraLength, commentLength);
  }

  const std::uint64_t count = m.entries.size();
  const bool zip64End =
      m.zip64End || count >= kMax16 || directory.size() >= kMax32 || newDirectoryOffset >= kMax32;
  std::string end;
  if (zip64End) {
    Append32(end, kEnd64Signature);
    Append64(end, kEnd64Size - 12);
    Append16(end, 45);
    Append16(end, 45);
    Append32(end, 0);
    Append32(end, 0);
    Append64(end, count);
    Append64(end, count);
    Append64(end, directory.size());
    Append64(end, newDirectoryOffset);
    Append32(end, kLocator64Signature);
    Append32(end, 0);
    Append64(end, newDirectoryOffset + directory.size());
    Append32(end, 1);
  }
  Append32(end, kEndSignature);
  Append32(end, 0);
  const std::uint16_t count16 = count >= kMax16 ? kMax16 : static_cast<std::uint16_t>(count);
  Append16(end, count16);
  Append16(end, count16);
  Append32(end, directory.size() >= kMax32 ? kMax32 : static_cast<std::uint32_t>(directory.size()));
  Append32(end,
           newDirectoryOffset >= kMax32 ? kMax32 : static_cast<std::uint32_t>(newDirectoryOffset));
  Append16(end, static_cast<std::uint16_t>(m.comment.size()));
  end += m.comment;

  auto check = [&](int error) {
    if (error == kSourceEndedEarly) {
      throw ServiceError(error_number::kDocumentChanged,
                         u"Cannot write '" + path + u"': it changed on disk while being copied");
    }
    if (error != 0) throw ErrnoError(error, u"Cannot write", path);
  };
  auto fault = [&] {
    if (faultHook) check(faultHook(ReplaceStep::Write));
  };
  // Everything before the entry and between it and the directory is copied
  // as it is; only the entry, the directory and the end records are new.
  std::uint64_t to = 0;
  fault();
  check(CopyBytes(inFd, 0, outFd, 0, old.localOffset));
  to += old.localOffset;
  fault();
  check(WriteBytesAt(outFd, to, local.data(), local.size()));
  to += local.size();
  fault();
  check(WriteBytesAt(outFd, to, packed.bytes.data(), packed.bytes.size()));
  to += packed.bytes.size();
  fault();
  check(CopyBytes(inFd, oldEnd, outFd, to, m.directoryOffset - oldEnd));
  to += m.directoryOffset - oldEnd;
  fault();
  directory += end;
  check(WriteBytesAt(outFd, to, directory.data(), directory.size()));
}

}  // namespace quavelle::docserver
