// Arbitrary reference texts through the reader and writer of link targets.
// Input: one selector byte (syntax and base folder), then the stored text as UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "services/Text.h"
#include "services/docserver/LinkTarget.h"

namespace {

using quavelle::docserver::TargetContext;
using quavelle::docserver::TargetSyntax;

// Where the document could live: a drive, a share, a POSIX folder.
constexpr const char16_t* kFolders[4] = {u"C:\\Users\\me\\Docs", u"\\\\srv1\\proj\\Docs",
                                         u"/home/me/docs", u"D:"};
constexpr const char16_t* kPackages[4] = {u"C:\\Users\\me\\Docs\\a.odt",
                                          u"\\\\srv1\\proj\\Docs\\a.odt", u"/home/me/docs/a.odt",
                                          u"D:\\a.odt"};
constexpr char16_t kNewPath[] = u"E:\\Moved here\\new target.xlsx";

TargetContext ContextFor(std::uint8_t selector) {
  const unsigned place = selector & 0x03;
  if ((selector & 0x04) == 0) return {TargetSyntax::OfficeOpenXml, kFolders[place], u""};
  std::u16string base = kPackages[place];
  if ((selector & 0x08) != 0) base += place < 2 || place == 3 ? u"\\Object 1" : u"/Object 1";
  return {TargetSyntax::OpenDocument, base, kPackages[place]};
}

[[noreturn]] void Fail(const std::string& what, const quavelle::docserver::LinkTarget& target,
                       const std::u16string& written) {
  std::fprintf(stderr,
               "link target: %s\n  stored [%s]\n  path   [%s]\n  suffix [%s]\n  wrote  [%s]\n",
               what.c_str(), quavelle::ToUtf8(target.stored).c_str(),
               quavelle::ToUtf8(target.absolutePath).c_str(),
               quavelle::ToUtf8(target.suffix).c_str(), quavelle::ToUtf8(written).c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const TargetContext context = ContextFor(data[0]);
  const std::u16string stored =
      quavelle::FromUtf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  const auto target = quavelle::docserver::ParseLinkTarget(stored, context);
  if (!target) return 0;
  // Writing back the same path gives the reference as found.
  const std::u16string unchanged =
      quavelle::docserver::FormatLinkTarget(*target, target->absolutePath, context);
  if (unchanged != target->stored) Fail("same path written differently", *target, unchanged);
  // A reference written for a new path reads back as that path, suffix kept.
  const std::u16string rewritten =
      quavelle::docserver::FormatLinkTarget(*target, kNewPath, context);
  const auto reread = quavelle::docserver::ParseLinkTarget(rewritten, context);
  if (!reread) Fail("new reference not read back", *target, rewritten);
  if (reread->absolutePath != kNewPath || reread->suffix != target->suffix)
    Fail("new reference read back as [" + quavelle::ToUtf8(reread->absolutePath) + "] [" +
             quavelle::ToUtf8(reread->suffix) + "]",
         *target, rewritten);
  return 0;
}
