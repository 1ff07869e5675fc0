#include "services/docserver/DescriptorSource.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quavelle::docserver {
namespace {

zip_int64_t Fail(DescriptorSource& s, int zipError, int systemError) {
  zip_error_set(s.error.get(), zipError, systemError);
  return -1;
}

// Reads up to want bytes at offset; fewer only at the end of the file.
zip_int64_t ReadAt(DescriptorSource& s, char* out, std::size_t want, std::uint64_t offset) {
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

zip_int64_t BufferedRead(DescriptorSource& s, char* out, std::size_t want) {
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

zip_int64_t SourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto& s = *static_cast<DescriptorSource*>(userdata);
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
      return zip_error_to_data(s.error.get(), data, len);
    case ZIP_SOURCE_FREE:
      return 0;  // the state belongs to the archive object
    case ZIP_SOURCE_SEEK: {
      zip_int64_t to = zip_source_seek_compute_offset(s.position, s.size, data, len, s.error.get());
      if (to < 0) return -1;
      s.position = static_cast<std::uint64_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(s.position);
    case ZIP_SOURCE_ACCEPT_EMPTY:
      return 0;  // an empty file is not a package
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                                            ZIP_SOURCE_ACCEPT_EMPTY, -1);
    default:
      return Fail(s, ZIP_ER_OPNOTSUPP, 0);
  }
}

}  // namespace

void Preload(DescriptorSource& s) {
  zip_int64_t n = ReadAt(s, s.readAhead.data(), s.readAhead.size(), 0);
  s.readAheadAt = 0;
  s.readAheadLength = n < 0 ? 0 : static_cast<std::size_t>(n);
  s.error.Clear();
}

zip_source_t* CreateZipSource(DescriptorSource& s, zip_error_t* error) {
  return zip_source_function_create(&SourceCallback, &s, error);
}

}  // namespace quavelle::docserver
