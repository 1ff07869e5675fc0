#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The rewrite rule: which links to re-point and to which path. Pure functions
// over UTF-16 text; every search ignores letter case (FoldCase) and starts at
// the first unit.
namespace quavelle {

// Position of the first occurrence of needle in haystack ignoring case, or npos.
// An empty needle is found at 0. A match never begins or ends inside a surrogate pair.
std::size_t FindIgnoringCase(std::u16string_view haystack, std::u16string_view needle) noexcept;

// The match test: the current text occurs within the drive name. An empty drive
// name never matches; an empty current text matches any other.
bool DriveMatches(std::u16string_view driveName, std::u16string_view currentText) noexcept;

struct RewrittenLink {
  std::u16string newDriveName;
  std::u16string newPath;
};

// The rewrite, asked for only after a match: the first occurrence of the current
// text in the drive name becomes the new text as typed, then the first occurrence
// of the drive name in the path becomes the new drive name.
RewrittenLink RewriteLink(std::u16string_view absolutePath, std::u16string_view driveName,
                          std::u16string_view currentText, std::u16string_view newText);

}  // namespace quavelle
