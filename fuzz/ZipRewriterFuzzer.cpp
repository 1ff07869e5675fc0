// Arbitrary bytes as a zip package, rewritten with some entries replaced,
// straight through the package writer (no libzip in front of it). Input: one
// selector byte, then the package. The selector's low two bits pick the first
// entry replaced; bit 2 also replaces the one after it.
//
// The writer must refuse or write; what it writes must read again with the
// same entries.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "services/ServiceError.h"
#include "services/docserver/ZipDirectory.h"
#include "services/docserver/ZipRewriter.h"

namespace {

using quavelle::docserver::ReadZipDirectory;
using quavelle::docserver::ZipDirectory;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "zip rewriter: %s\n", what);
  std::abort();
}

int MemoryFile(const char* name) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) Fail("no memory file");
  return fd;
}

void Reset(int fd) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) Fail("cannot empty a memory file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int in = MemoryFile("in");
  static const int out = MemoryFile("out");
  if (size == 0) return 0;
  Reset(in);
  Reset(out);
  const std::size_t length = size - 1;
  if (length > 0 && pwrite(in, data + 1, length, 0) != static_cast<ssize_t>(length))
    Fail("cannot fill a memory file");

  std::map<std::uint64_t, std::string> parts;
  parts[data[0] & 3] = "<replaced/>";
  if (data[0] & 4) parts[(data[0] & 3) + 1] = std::string(300, 'x');
  const std::u16string path = u"fuzz.zip";
  ZipDirectory before;
  try {
    before = ReadZipDirectory(in, length, path);
    quavelle::docserver::WritePackageReplacing(before, in, length, parts, out, {}, path);
  } catch (const quavelle::ServiceError&) {
    return 0;  // a refused package is an expected outcome
  }
  const off_t written = lseek(out, 0, SEEK_END);
  ZipDirectory after;
  try {
    after = ReadZipDirectory(out, static_cast<std::uint64_t>(written), path);
  } catch (const quavelle::ServiceError&) {
    Fail("a written package does not read again");
  }
  if (after.entries.size() != before.entries.size()) Fail("entries lost or gained");
  for (std::size_t i = 0; i < after.entries.size(); ++i) {
    if (after.Name(i) != before.Name(i)) Fail("an entry's name changed");
    const bool replaced = parts.contains(i);
    if (!replaced && after.entries[i].compressedSize != before.entries[i].compressedSize)
      Fail("an untouched entry's size changed");
    if (replaced && after.entries[i].uncompressedSize != parts[i].size())
      Fail("a replaced entry's size is wrong");
  }
  return 0;
}
