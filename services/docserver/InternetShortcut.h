#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "services/docserver/LinkTarget.h"

// An Internet shortcut (.url): INI text whose [InternetShortcut] section may
// name files. URL= with a file URL and IconFile= with a file URL or a drive or
// share path are links; web addresses are not. The same key in the
// [InternetShortcut.A] section (an 8-bit copy) and [InternetShortcut.W] (a
// UTF-7 copy, which the shell prefers) stores the same link and is rewritten
// with it. Re-pointing rewrites only the values' characters: the encoding (the
// 8-bit code page read as Windows-1252, UTF-8 or UTF-16 with a byte order
// mark), the line endings and every other byte stay. A file URL keeps its form
// (see LinkTarget.h), a plain path is written plain.
// Refused with 1009: a new path that is no full drive or share path, a
// character the 8-bit code page cannot hold, a line break in the value.
// An odd-length UTF-16 file fails with 1003.
namespace quavelle::docserver {

class InternetShortcut {
 public:
  static InternetShortcut Parse(std::string bytes, const std::u16string& document);

  const std::string& bytes() const { return bytes_; }
  std::size_t size() const { return links_.size(); }
  const std::u16string& target(std::size_t index) const {
    return links_[index].target.absolutePath;
  }

  // The whole file with link index pointing to newPath.
  std::string Repointed(std::size_t index, const std::u16string& newPath) const;

  enum class Encoding { Windows1252, Utf8, Utf16 };

 private:
  struct Place {
    std::size_t begin = 0, end = 0;  // the value's bytes
    bool utf7 = false;
    std::u16string value;
  };
  struct Link {
    LinkTarget target;          // form FileUrl or PlainPath
    std::vector<Place> places;  // the first is where target was read
  };

  InternetShortcut() = default;

  std::u16string document_;
  std::string bytes_;
  Encoding encoding_ = Encoding::Windows1252;
  std::vector<Link> links_;
};

}  // namespace quavelle::docserver
