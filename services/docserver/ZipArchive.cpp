#include "services/docserver/ZipArchive.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/PackageFile.h"

namespace quavelle::docserver {
namespace {

// Reads the package through pread on its descriptor; when writeFd is set,
// libzip writes the new package there instead of over the original.
// libzip moves data in 8 KiB steps; both directions are buffered so that
// copying a large package costs a few hundred system calls, not thousands.
// Uninitialised: every byte is read into before it is used.
struct ByteBuffer {
  std::unique_ptr<char[]> bytes;
  std::size_t length = 0;
  void Allocate(std::size_t n) {
    bytes = std::make_unique_for_overwrite<char[]>(n);
    length = n;
  }
  char* data() const { return bytes.get(); }
  std::size_t size() const { return length; }
};

struct FdSource {
  int readFd = -1;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  int writeFd = -1;
  const FaultHook* faultHook = nullptr;
  zip_error_t error{};
  ByteBuffer readAhead;  // bytes from readAheadAt on
  std::uint64_t readAheadAt = 0;
  std::size_t readAheadLength = 0;
  std::vector<char> pending;   // written by libzip, not yet by us
  std::uint64_t unqueued = 0;  // bytes written since the last write-back started
};

constexpr std::size_t kListingReadAhead = 64 << 10;
// A package up to this size is read whole in one call when opened, and its
// directory and link parts come from memory. libzip reads the last 64 KiB for
// the directory anyway; past twice that, reading it all costs more than the
// directory and the few small parts a listing needs.
constexpr std::size_t kWholeFileRead = 2 * kListingReadAhead;
constexpr std::size_t kCopyBuffer = 1 << 20;
// The new package goes to disk in steps of this size while it is still being
// written, so that the final flush waits for the last step only.
constexpr std::uint64_t kWriteBehind = 8 << 20;
// Compressed parts up to this size are inflated in one call.
constexpr std::uint64_t kOneCallInflate = 64 << 20;

zip_int64_t Fail(FdSource& s, int zipError, int systemError) {
  zip_error_set(&s.error, zipError, systemError);
  return -1;
}

int InjectedFault(const FdSource& s, ReplaceStep step) {
  return (s.faultHook && *s.faultHook) ? (*s.faultHook)(step) : 0;
}

// Reads up to want bytes at offset; fewer only at the end of the file.
zip_int64_t ReadAt(FdSource& s, char* out, std::size_t want, std::uint64_t offset) {
  std::size_t got = 0;
  while (got < want) {
    ssize_t n = ::pread(s.readFd, out + got, want - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(s, ZIP_ER_READ, errno);
    if (n == 0) break;  // shorter than when opened
    got += static_cast<std::size_t>(n);
  }
  return static_cast<zip_int64_t>(got);
}

zip_int64_t BufferedRead(FdSource& s, char* out, std::size_t want) {
  std::size_t got = 0;
  while (got < want) {
    const std::uint64_t at = s.position + got;
    if (at >= s.readAheadAt && at < s.readAheadAt + s.readAheadLength) {
      const std::size_t from = static_cast<std::size_t>(at - s.readAheadAt);
      const std::size_t n = std::min(want - got, s.readAheadLength - from);
      std::memcpy(out + got, s.readAhead.data() + from, n);
      got += n;
      continue;
    }
    if (want - got >= s.readAhead.size()) {  // large reads bypass the buffer
      const zip_int64_t n = ReadAt(s, out + got, want - got, at);
      if (n < 0) return n;
      got += static_cast<std::size_t>(n);
      break;
    }
    const zip_int64_t n = ReadAt(s, s.readAhead.data(), s.readAhead.size(), at);
    if (n < 0) return n;
    s.readAheadAt = at;
    s.readAheadLength = static_cast<std::size_t>(n);
    if (n == 0) break;
  }
  s.position += got;
  return static_cast<zip_int64_t>(got);
}

// Starts, without waiting, the write-out of whatever of the file is not yet
// on its way to disk. Only a head start for the flush that follows, which
// reports any failure.
void StartWriteBack(FdSource& s) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (s.unqueued < kWriteBehind) return;
  (void)::sync_file_range(s.writeFd, 0, 0, SYNC_FILE_RANGE_WRITE);
  s.unqueued = 0;
#else
  (void)s;
#endif
}

bool FlushPending(FdSource& s) {
  std::size_t done = 0;
  while (done < s.pending.size()) {
    ssize_t n = ::write(s.writeFd, s.pending.data() + done, s.pending.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Fail(s, ZIP_ER_WRITE, errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  s.unqueued += done;
  s.pending.clear();
  StartWriteBack(s);
  return true;
}

zip_int64_t SourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto& s = *static_cast<FdSource*>(userdata);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      s.position = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      std::uint64_t left = s.position < s.size ? s.size - s.position : 0;
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(len, left));
      return BufferedRead(s, static_cast<char*>(data), want);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      if (len < sizeof(*st)) return Fail(s, ZIP_ER_INVAL, 0);
      zip_stat_init(st);
      st->size = s.size;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&s.error, data, len);
    case ZIP_SOURCE_FREE:
      return 0;  // the state belongs to the archive object
    case ZIP_SOURCE_SEEK: {
      zip_int64_t to = zip_source_seek_compute_offset(s.position, s.size, data, len, &s.error);
      if (to < 0) return -1;
      s.position = static_cast<std::uint64_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(s.position);
    case ZIP_SOURCE_ACCEPT_EMPTY:
      return 0;  // an empty file is not a package
    case ZIP_SOURCE_BEGIN_WRITE:
      if (::lseek(s.writeFd, 0, SEEK_SET) < 0) return Fail(s, ZIP_ER_SEEK, errno);
      s.pending.clear();
      s.pending.reserve(kCopyBuffer);
      return 0;
    case ZIP_SOURCE_WRITE: {
      if (int fault = InjectedFault(s, ReplaceStep::Write)) return Fail(s, ZIP_ER_WRITE, fault);
      const char* bytes = static_cast<const char*>(data);
      s.pending.insert(s.pending.end(), bytes, bytes + len);
      if (s.pending.size() >= kCopyBuffer && !FlushPending(s)) return -1;
      return static_cast<zip_int64_t>(len);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
      auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &s.error);
      if (args == nullptr) return -1;
      if (!FlushPending(s)) return -1;
      if (::lseek(s.writeFd, args->offset, args->whence) < 0) return Fail(s, ZIP_ER_SEEK, errno);
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
      off_t at = ::lseek(s.writeFd, 0, SEEK_CUR);
      if (at < 0) return Fail(s, ZIP_ER_TELL, errno);
      return at + static_cast<off_t>(s.pending.size());
    }
    case ZIP_SOURCE_COMMIT_WRITE:
      return FlushPending(s) ? 0 : -1;  // the caller syncs and renames the temporary file
    case ZIP_SOURCE_ROLLBACK_WRITE:
      s.pending.clear();
      return 0;  // the caller removes the temporary file
    case ZIP_SOURCE_REMOVE:
      return Fail(s, ZIP_ER_INTERNAL, 0);  // never asked: no entry is deleted
    case ZIP_SOURCE_SUPPORTS:
      if (s.writeFd < 0) {
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                                              ZIP_SOURCE_ACCEPT_EMPTY, -1);
      }
      return zip_source_make_command_bitmap(
          ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
          ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
          ZIP_SOURCE_ACCEPT_EMPTY, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
          ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
          ZIP_SOURCE_REMOVE, -1);
    default:
      return Fail(s, ZIP_ER_OPNOTSUPP, 0);
  }
}

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
ArchivePtr OpenArchive(FdSource& s, int flags, zip_error_t* error) {
  zip_source_t* src = zip_source_function_create(&SourceCallback, &s, error);
  if (src == nullptr) return nullptr;
  zip_t* za = zip_open_from_source(src, flags, error);
  if (za == nullptr) zip_source_free(src);
  return ArchivePtr(za);
}

}  // namespace

struct ZipArchive::Impl {
  const PackageFile& file;
  std::u16string path;
  FdSource source;
  ArchivePtr archive;
  InflaterPtr inflater;

  Impl(const PackageFile& f, std::u16string p) : file(f), path(std::move(p)) {}
  ~Impl() {
    archive.reset();
    zip_error_fini(&source.error);
  }
};

ZipArchive::ZipArchive(const PackageFile& file, std::u16string documentPath)
    : impl_(std::make_unique<Impl>(file, std::move(documentPath))) {
  Impl& m = *impl_;
  m.source.readFd = file.fd();
  m.source.size = file.identity().size;
  zip_error_init(&m.source.error);
  if (m.source.size <= kWholeFileRead) {
    // Like cat: one read, then the directory and the link parts come from memory.
    // Should it fail, libzip's own reads meet the same error and report it.
    m.source.readAhead.Allocate(std::max<std::size_t>(m.source.size, 1));
    zip_int64_t n = ReadAt(m.source, m.source.readAhead.data(), m.source.size, 0);
    m.source.readAheadLength = n < 0 ? 0 : static_cast<std::size_t>(n);
    zip_error_fini(&m.source.error);
    zip_error_init(&m.source.error);
  } else {
    m.source.readAhead.Allocate(kListingReadAhead);
  }
  zip_error_t error;
  zip_error_init(&error);
  m.archive = OpenArchive(m.source, ZIP_RDONLY, &error);
  if (!m.archive) {
    ServiceError failure = PackageError(&error, u"Cannot open", m.path);
    if (zip_error_code_zip(&error) == ZIP_ER_NOZIP) {
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
    zip_error_fini(&error);
    throw failure;
  }
  zip_error_fini(&error);
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
  std::u16string part = FromUtf8(EntryName(index));
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0)
    throw PackageError(zip_get_error(za), u"Cannot read", path);
  auto tooLarge = [&] {
    return ServiceError(error_number::kPartTooLarge, u"Cannot read '" + path + u"': part '" + part +
                                                         u"' inflates past the size limit");
  };
  if ((st.valid & ZIP_STAT_SIZE) && st.size > limit) throw tooLarge();
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot read '" + path + u"': part '" + part + u"' is encrypted");
  }
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

void ZipArchive::WriteReplacingEntry(std::uint64_t index, std::string_view data, int outFd,
                                     const FaultHook& faultHook) const {
  const std::u16string& path = impl_->path;
  zip_stat_t st;
  if (zip_stat_index(impl_->archive.get(), index, 0, &st) != 0) {
    throw PackageError(zip_get_error(impl_->archive.get()), u"Cannot read", path);
  }

  FdSource source;
  source.readFd = impl_->file.fd();
  source.size = impl_->file.identity().size;
  source.readAhead.Allocate(kCopyBuffer);
  source.writeFd = outFd;
  source.faultHook = &faultHook;
  zip_error_init(&source.error);
  struct ErrorFini {
    zip_error_t* e;
    ~ErrorFini() { zip_error_fini(e); }
  } finiSource{&source.error};

  zip_error_t error;
  zip_error_init(&error);
  ErrorFini finiError{&error};
  ArchivePtr archive = OpenArchive(source, 0, &error);
  if (!archive) throw PackageError(&error, u"Cannot read", path);
  zip_t* za = archive.get();

  zip_source_t* replacement = zip_source_buffer(za, data.data(), data.size(), 0);
  if (replacement == nullptr) throw PackageError(zip_get_error(za), u"Cannot write", path);
  if (zip_file_replace(za, index, replacement, 0) != 0) {
    zip_source_free(replacement);
    throw PackageError(zip_get_error(za), u"Cannot write", path);
  }
  // A stored entry (an OpenDocument mimetype) stays stored.
  zip_int32_t method = ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_STORE)
                           ? ZIP_CM_STORE
                           : ZIP_CM_DEFLATE;
  if (zip_set_file_compression(za, index, method, 0) != 0) {
    throw PackageError(zip_get_error(za), u"Cannot write", path);
  }
  // The part keeps its timestamp, as every other entry does.
  if ((st.valid & ZIP_STAT_MTIME) && zip_file_set_mtime(za, index, st.mtime, 0) != 0) {
    throw PackageError(zip_get_error(za), u"Cannot write", path);
  }
  if (zip_close(za) != 0) {
    ServiceError failure = PackageError(zip_get_error(za), u"Cannot write", path);
    throw failure;  // archive's deleter discards the half-written state
  }
  archive.release();  // zip_close freed it
}

}  // namespace quavelle::docserver
