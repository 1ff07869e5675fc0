// Arbitrary bytes as a package file, through the built-in document server.
// Input: one selector byte, then the file's bytes. The low four bits of the
// selector pick the file name's extension; the high bit also re-points the
// first link and reads the rewritten package back.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/FuzzScratch.h"
#include "services/DocumentServer.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kExtensions[16] = {".docx", ".xlsx", ".pptx", ".odt", ".ods", ".odp",
                                         ".docm", ".xlsm", ".dotx", ".ott", ".odg", ".potx",
                                         ".fodt", ".fods", ".zip",  ".txt"};
constexpr char16_t kNewPath[] = u"D:\\Moved here\\new target.docx";

using quavelle::fuzz::ScratchDir;
using quavelle::fuzz::WriteWhole;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "document server: %s\n", what);
  std::abort();
}

// Lists every link and re-points the first one when asked; says so once the
// enumeration has ended, which is when the server writes the document.
void Walk(quavelle::DocumentServer& server, const std::u16string& path, bool repoint,
          bool& repointed) {
  auto document = server.Open(path);
  if (document->FullName().empty()) Fail("an opened document has no full name");
  auto links = document->LinkedDocuments();
  if (!links) return;
  auto items = links->NewEnum();
  bool asked = false;
  for (auto link = items->Next(); link; link = items->Next()) {
    const std::u16string target = link->AbsolutePath();
    if (repoint && !asked) {
      link->SetPath(kNewPath);
      asked = true;
    }
  }
  repointed = asked;
}

bool Lists(quavelle::DocumentServer& server, const std::u16string& path,
           const std::u16string& wanted) {
  auto links = server.Open(path)->LinkedDocuments();
  if (!links) return false;
  auto items = links->NewEnum();
  for (auto link = items->Next(); link; link = items->Next())
    if (link->AbsolutePath() == wanted) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDir scratch;
  static auto server = quavelle::CreateBuiltinDocumentServer();
  if (size == 0) return 0;
  const fs::path file = scratch.path() / (std::string("package") + kExtensions[data[0] & 0x0F]);
  WriteWhole(file, data + 1, size - 1);
  const std::u16string path = quavelle::NativePathToText(file.string());

  bool repointed = false;
  try {
    Walk(*server, path, (data[0] & 0x80) != 0, repointed);
  } catch (const quavelle::ServiceError&) {
    // A file the server refuses is an expected outcome.
  }
  // What the server itself wrote must open again and show the new target.
  if (repointed && !Lists(*server, path, kNewPath))
    Fail("a re-pointed link is not listed with its new path");
  return 0;
}
