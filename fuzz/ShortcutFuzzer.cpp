// Arbitrary bytes as a Windows shortcut or an Internet shortcut, read and
// re-pointed as bytes. Input: one selector byte, then the file's bytes. The
// low bit picks the kind (0: .lnk, 1: .url); bits 1-2 pick the new path.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "services/ServiceError.h"
#include "services/docserver/InternetShortcut.h"
#include "services/docserver/ShellLink.h"

namespace {

constexpr const char16_t* kNewPaths[4] = {
    u"D:\\Data\\plan.docx", u"\\\\srv2\\projects\\Data\\plan.docx", u"\\\\srv2\\plan.docx",
    u"E:\\Pl\u00e4ne\\\u8a08\u753b.docx"};
const std::u16string kDocument = u"fuzz";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "shortcut: %s\n", what);
  std::abort();
}

void ShellLinkBytes(std::string bytes, const std::u16string& newPath) {
  using quavelle::docserver::ShellLink;
  const ShellLink link = ShellLink::Parse(std::move(bytes), kDocument);
  link.Fields();
  if (!link.target()) return;
  std::string moved;
  try {
    moved = link.Repointed(newPath);
  } catch (const quavelle::ServiceError& e) {
    if (e.number() == 1003) Fail("a readable shortcut became damaged");
    return;
  }
  try {
    if (ShellLink::Parse(moved, kDocument).target() != newPath) Fail("the new target is not read");
  } catch (const quavelle::ServiceError&) {
    Fail("a re-pointed shortcut cannot be read");
  }
}

void InternetShortcutBytes(std::string bytes, const std::u16string& newPath) {
  using quavelle::docserver::InternetShortcut;
  const InternetShortcut shortcut = InternetShortcut::Parse(std::move(bytes), kDocument);
  for (std::size_t i = 0; i < shortcut.size(); ++i) {
    std::string moved;
    try {
      moved = shortcut.Repointed(i, newPath);
    } catch (const quavelle::ServiceError&) {
      continue;  // a path the file cannot hold
    }
    try {
      const InternetShortcut reread = InternetShortcut::Parse(moved, kDocument);
      if (reread.size() != shortcut.size() || reread.target(i) != newPath) {
        Fail("the new target is not read");
      }
    } catch (const quavelle::ServiceError&) {
      Fail("a re-pointed Internet shortcut cannot be read");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::u16string newPath = kNewPaths[(data[0] >> 1) & 3];
  try {
    if (data[0] & 1) {
      InternetShortcutBytes(std::move(bytes), newPath);
    } else {
      ShellLinkBytes(std::move(bytes), newPath);
    }
  } catch (const quavelle::ServiceError&) {
    // A damaged file is an expected outcome.
  }
  return 0;
}
