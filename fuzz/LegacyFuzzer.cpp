// Arbitrary bytes as a compound file, through the legacy binary contents.
// Input: one selector byte, then the file's bytes. The low two bits pick the
// extension the content is chosen by (or, for 3, the file's own streams); the
// high bit also re-points the first link, writes the new file, and reads it
// back.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/LegacyContent.h"

namespace {

namespace fs = std::filesystem;
using quavelle::docserver::DocumentContent;
using quavelle::docserver::DocumentFile;

constexpr const char* kExtensions[4] = {".xls", ".doc", ".dot", ".docx"};
constexpr char16_t kNewPath[] = u"D:\\N\\x.doc";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "legacy content: %s\n", what);
  std::abort();
}

fs::path Scratch() {
  std::string pattern = (fs::temp_directory_path() / "quavelle-legacy-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

std::unique_ptr<DocumentContent> ContentFor(int selector, const DocumentFile& file,
                                            const std::u16string& path) {
  if (selector == 3) return quavelle::docserver::LegacyContentForBytes(file.fd(), path);
  return quavelle::docserver::LegacyContentForExtension(
      quavelle::NativePathToText(kExtensions[selector]), path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path scratch = Scratch();
  if (size == 0) return 0;
  const int selector = data[0] & 0x03;
  const fs::path input = scratch / (std::string("input") + kExtensions[selector]);
  const fs::path output = scratch / "output.bin";
  {
    quavelle::UniqueFd fd(::open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || ::write(fd.get(), data + 1, size - 1) != static_cast<ssize_t>(size - 1))
      std::abort();
  }
  const std::u16string path = quavelle::NativePathToText(input.string());
  bool written = false;
  try {
    DocumentFile file = DocumentFile::Open(path);
    auto content = ContentFor(selector, file, path);
    if (!content) return 0;
    content->Load(file);
    const std::size_t count = content->ListLinks();
    for (std::size_t i = 0; i < count; ++i) content->AbsolutePath(i);
    if ((data[0] & 0x80) && count > 0) {
      content->Repoint(0, kNewPath);
      quavelle::UniqueFd out(
          ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      content->WriteChanged(out.get(), nullptr);
      written = true;
    }
  } catch (const quavelle::ServiceError&) {
    // A file the content refuses is an expected outcome.
  }
  if (!written) return 0;
  // What the content wrote must load again and list the new target.
  const std::u16string outPath = quavelle::NativePathToText(output.string());
  DocumentFile file = DocumentFile::Open(outPath);
  auto content = ContentFor(selector, file, outPath);
  content->Load(file);
  bool found = false;
  for (std::size_t i = 0; i < content->ListLinks(); ++i)
    found = found || content->AbsolutePath(i) == kNewPath;
  if (!found) Fail("a re-pointed link is not listed with its new path");
  return 0;
}
