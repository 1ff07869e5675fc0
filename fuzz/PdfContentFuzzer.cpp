// Arbitrary bytes as a PDF file, through the PDF content: listed, the first
// link re-pointed, the new file written and read back.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz/FuzzScratch.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/PdfContent.h"

namespace {

namespace fs = std::filesystem;
using quavelle::docserver::DocumentFile;

constexpr char16_t kNewPath[] = u"D:\\Moved here\\new target.docx";

using quavelle::fuzz::ScratchDir;
using quavelle::fuzz::WriteWhole;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pdf content: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDir scratch;
  const fs::path file = scratch.path() / "document.pdf";
  const fs::path written = scratch.path() / "written.pdf";
  WriteWhole(file, data, size);
  const std::u16string path = quavelle::NativePathToText(file.string());

  std::size_t repointed = SIZE_MAX;
  try {
    const DocumentFile document = DocumentFile::Open(path);
    auto content = quavelle::docserver::CreatePdfContent(path);
    content->Load(document);
    const std::size_t count = content->ListLinks();
    if (content->ListLinks() != count) Fail("a second listing gives another count");
    for (std::size_t i = 0; i < count; ++i) {
      content->AbsolutePath(i);
      if (repointed != SIZE_MAX) continue;
      try {
        content->Repoint(i, kNewPath);
        repointed = i;
      } catch (const quavelle::ServiceError&) {
        // This link or file cannot be changed: an expected outcome.
      }
    }
    if (repointed == SIZE_MAX || !content->HasChanges()) return 0;
    {
      quavelle::UniqueFd out(open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      if (!out) std::abort();
      content->WriteChanged(out.get(), nullptr);
    }
    // What was written must open again and show the new target.
    const std::u16string again = quavelle::NativePathToText(written.string());
    const DocumentFile reread = DocumentFile::Open(again);
    auto check = quavelle::docserver::CreatePdfContent(again);
    check->Load(reread);
    if (check->ListLinks() != count) Fail("the written file lists another count");
    if (check->AbsolutePath(repointed) != kNewPath) Fail("the re-pointed link reads back wrong");
  } catch (const quavelle::ServiceError&) {
    if (repointed != SIZE_MAX) Fail("the file written cannot be read again");
  }
  return 0;
}
