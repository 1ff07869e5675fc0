#pragma once

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quavelle::docserver {

// A libzip error record, released with its scope.
class ZipError {
 public:
  ZipError() { zip_error_init(&value_); }
  ~ZipError() { zip_error_fini(&value_); }
  ZipError(const ZipError&) = delete;
  ZipError& operator=(const ZipError&) = delete;
  zip_error_t* get() { return &value_; }
  void Clear() {
    zip_error_fini(&value_);
    zip_error_init(&value_);
  }

 private:
  zip_error_t value_;
};

// Bytes that start uninitialised: every one is read into before it is used.
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

// What libzip reads a package through: pread on its descriptor, through a
// read-ahead buffer. libzip reads in small steps; the buffer makes reading a
// directory and a few parts cost a few system calls, not hundreds.
struct DescriptorSource {
  int readFd = -1;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  ZipError error;
  ByteBuffer readAhead;  // bytes from readAheadAt on
  std::uint64_t readAheadAt = 0;
  std::size_t readAheadLength = 0;
};

// Reads the start of the file into the whole read-ahead buffer. Should the
// read fail, libzip's own reads meet the same error and report it.
void Preload(DescriptorSource& s);

// A libzip source over s, which must outlive it; nullptr (error set) on failure.
zip_source_t* CreateZipSource(DescriptorSource& s, zip_error_t* error);

}  // namespace quavelle::docserver
