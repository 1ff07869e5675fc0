#include "services/docserver/ZipArchive.h"

#include <libdeflate.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>

#include "services/Text.h"
#include "services/docserver/DescriptorSource.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/ZipRewriter.h"

namespace quavelle::docserver {
namespace {

constexpr std::size_t kListingReadAhead = 64 << 10;
// A package up to this size is read whole in one call when opened, and its
// directory and link parts come from memory. libzip reads the last 64 KiB for
// the directory anyway; past twice that, reading it all costs more than the
// directory and the few small parts a listing needs.
constexpr std::size_t kWholeFileRead = 2 * kListingReadAhead;
// Compressed parts up to this size are inflated in one call.
constexpr std::uint64_t kOneCallInflate = 64 << 20;

std::u16string ZipReason(zip_error_t* error) {
  return FromUtf8(std::string_view(zip_error_strerror(error)));
}

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

// The failure for a libzip error while reading or writing the package.
ServiceError PackageError(zip_error_t* error, std::u16string_view action,
                          const std::u16string& path) {
  int zipCode = zip_error_code_zip(error);
  int systemCode = zip_error_code_system(error);
  if ((zipCode == ZIP_ER_READ || zipCode == ZIP_ER_WRITE || zipCode == ZIP_ER_SEEK ||
       zipCode == ZIP_ER_TELL || zipCode == ZIP_ER_OPEN) &&
      systemCode != 0) {
    return ErrnoError(systemCode, action, path);
  }
  std::u16string text = std::u16string(action) + u" '" + path + u"': ";
  if (zipCode == ZIP_ER_MEMORY) {
    return ServiceError(error_number::kPathFileAccessError, text + u"out of memory");
  }
  if (zipCode == ZIP_ER_NOZIP) {
    return ServiceError(error_number::kNotAPackage, text + u"not a zip package");
  }
  return ServiceError(error_number::kDamagedPackage,
                      text + u"damaged package (" + ZipReason(error) + u")");
}

struct ArchiveCloser {
  void operator()(zip_t* za) const noexcept { zip_discard(za); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;

struct FileCloser {
  void operator()(zip_file_t* f) const noexcept { zip_fclose(f); }
};

struct InflaterFree {
  void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};
using InflaterPtr = std::unique_ptr<libdeflate_decompressor, InflaterFree>;

// The entry's data inflated in one call, when its directory record holds
// everything needed to check the result (sizes and checksum) and the result
// checks out. Anything else gives nullopt, and the caller takes the streaming
// path, which says exactly what is wrong.
std::optional<std::string> InflateWhole(zip_t* za, std::uint64_t index, const zip_stat_t& st,
                                        InflaterPtr& inflater) {
  constexpr zip_uint64_t kNeeded =
      ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
  if ((st.valid & kNeeded) != kNeeded || st.comp_size > kOneCallInflate) return std::nullopt;
  if (st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE) return std::nullopt;
  std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(za, index, ZIP_FL_COMPRESSED));
  if (!file) return std::nullopt;
  ByteBuffer raw;
  raw.Allocate(static_cast<std::size_t>(st.comp_size));
  std::size_t got = 0;
  while (got < raw.size()) {
    zip_int64_t n = zip_fread(file.get(), raw.data() + got, raw.size() - got);
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  std::string data;
  if (st.comp_method == ZIP_CM_STORE) {
    data.assign(raw.data(), raw.size());
  } else {
    if (!inflater) inflater.reset(libdeflate_alloc_decompressor());
    if (!inflater) return std::nullopt;
    data.resize(static_cast<std::size_t>(st.size));
    // No room past the declared size: a part that inflates further is not taken.
    if (libdeflate_deflate_decompress(inflater.get(), raw.data(), raw.size(), data.data(),
                                      data.size(), nullptr) != LIBDEFLATE_SUCCESS) {
      return std::nullopt;
    }
  }
  if (data.size() != st.size || libdeflate_crc32(0, data.data(), data.size()) != st.crc)
    return std::nullopt;
  return data;
}

// Opens an archive over source state s; s must outlive it.
ArchivePtr OpenArchive(DescriptorSource& s, int flags, zip_error_t* error) {
  zip_source_t* src = CreateZipSource(s, error);
  if (src == nullptr) return nullptr;
  zip_t* za = zip_open_from_source(src, flags, error);
  if (za == nullptr) zip_source_free(src);
  return ArchivePtr(za);
}

}  // namespace

struct ZipArchive::Impl {
  const DocumentFile& file;
  std::u16string path;
  DescriptorSource source;
  ArchivePtr archive;
  InflaterPtr inflater;

  Impl(const DocumentFile& f, std::u16string p) : file(f), path(std::move(p)) {}
};

ZipArchive::ZipArchive(const DocumentFile& file, std::u16string documentPath)
    : impl_(std::make_unique<Impl>(file, std::move(documentPath))) {
  Impl& m = *impl_;
  m.source.readFd = file.fd();
  m.source.size = file.identity().size;
  if (m.source.size <= kWholeFileRead) {
    // Like cat: one read, then the directory and the link parts come from memory.
    m.source.readAhead.Allocate(std::max<std::size_t>(m.source.size, 1));
    Preload(m.source);
  } else {
    m.source.readAhead.Allocate(kListingReadAhead);
  }
  ZipError error;
  m.archive = OpenArchive(m.source, ZIP_RDONLY, error.get());
  if (!m.archive) {
    ServiceError failure = PackageError(error.get(), u"Cannot open", m.path);
    if (zip_error_code_zip(error.get()) == ZIP_ER_NOZIP) {
      if (StartsWith(file.fd(), kCompoundFile)) {
        failure = ServiceError(error_number::kEncryptedDocument,
                               u"Cannot open '" + m.path +
                                   u"': an encrypted or binary office file, not a zip package");
      } else if (StartsWith(file.fd(), kLocalHeader)) {
        failure = ServiceError(error_number::kDamagedPackage,
                               u"Cannot open '" + m.path +
                                   u"': damaged package (truncated: its directory is missing)");
      } else {
        failure = ServiceError(error_number::kNotAPackage,
                               u"Cannot open '" + m.path + u"': not a zip package");
      }
    }
    throw failure;
  }
}

ZipArchive::~ZipArchive() = default;

std::uint64_t ZipArchive::EntryCount() const {
  zip_int64_t n = zip_get_num_entries(impl_->archive.get(), 0);
  return n < 0 ? 0 : static_cast<std::uint64_t>(n);
}

std::string ZipArchive::EntryName(std::uint64_t index) const {
  const char* name = zip_get_name(impl_->archive.get(), index, ZIP_FL_ENC_RAW);
  if (name == nullptr) {
    throw PackageError(zip_get_error(impl_->archive.get()), u"Cannot read", impl_->path);
  }
  return name;
}

std::string ZipArchive::ReadEntry(std::uint64_t index, std::uint64_t limit) const {
  zip_t* za = impl_->archive.get();
  const std::u16string& path = impl_->path;
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0)
    throw PackageError(zip_get_error(za), u"Cannot read", path);
  // Named only when it fails: reading is the walk's hot path.
  auto partFailure = [&](std::int32_t number, std::u16string_view why) {
    return ServiceError(number, u"Cannot read '" + path + u"': part '" +
                                    FromUtf8(EntryName(index)) + u"' " + std::u16string(why));
  };
  auto tooLarge = [&] {
    return partFailure(error_number::kPartTooLarge, u"inflates past the size limit");
  };
  if ((st.valid & ZIP_STAT_SIZE) && st.size > limit) throw tooLarge();
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
    throw partFailure(error_number::kDamagedPackage, u"is encrypted");
  if (std::optional<std::string> whole = InflateWhole(za, index, st, impl_->inflater))
    return std::move(*whole);
  std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(za, index, 0));
  if (!file) throw PackageError(zip_get_error(za), u"Cannot read", path);

  std::string data;
  data.reserve(static_cast<std::size_t>(
      std::min<std::uint64_t>((st.valid & ZIP_STAT_SIZE) ? st.size : 0, limit)));
  std::array<char, 65536> chunk{};
  for (;;) {
    // Ask for one byte past the limit so that a lying directory is caught.
    std::uint64_t room = limit - data.size();
    if (room < chunk.size()) ++room;
    zip_int64_t n =
        zip_fread(file.get(), chunk.data(), std::min<std::uint64_t>(room, chunk.size()));
    if (n < 0) throw PackageError(zip_file_get_error(file.get()), u"Cannot read", path);
    if (n == 0) break;
    data.append(chunk.data(), static_cast<std::size_t>(n));
    if (data.size() > limit) throw tooLarge();
  }
  return data;
}

void ZipArchive::WriteReplacingEntries(const std::map<std::uint64_t, std::string>& replacements,
                                       int outFd, const FaultHook& faultHook) const {
  const int fd = impl_->file.fd();
  const std::uint64_t size = impl_->file.identity().size;
  const ZipDirectory directory = ReadZipDirectory(fd, size, impl_->path);
  // The indices are libzip's: both readers must see the same directory.
  bool agree = directory.entries.size() == EntryCount();
  for (auto it = replacements.begin(); agree && it != replacements.end(); ++it) {
    agree = it->first < directory.entries.size() &&
            directory.Name(static_cast<std::size_t>(it->first)) == EntryName(it->first);
  }
  if (!agree) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot read '" + impl_->path +
                           u"': damaged package (its directory can be read in two ways)");
  }
  WritePackageReplacing(directory, fd, size, replacements, outFd, faultHook, impl_->path);

  // What was written must read as the same package: a zip reader cannot tell
  // every byte's meaning, and a document is never replaced by one it cannot read.
  const off_t written = ::lseek(outFd, 0, SEEK_END);
  if (written < 0) throw ErrnoError(errno, u"Cannot write", impl_->path);
  bool same = false;
  try {
    const ZipDirectory now =
        ReadZipDirectory(outFd, static_cast<std::uint64_t>(written), impl_->path);
    same = now.entries.size() == directory.entries.size();
    for (std::size_t i = 0; same && i < now.entries.size(); ++i)
      same = now.Name(i) == directory.Name(i);
  } catch (const ServiceError& unreadable) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot write '" + impl_->path +
                           u"': the rewritten package does not read again (" +
                           unreadable.description() + u"); the document is left as it was");
  }
  if (!same) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot write '" + impl_->path +
                           u"': the rewritten package reads with other parts; the document is "
                           u"left as it was");
  }
}

}  // namespace quavelle::docserver
