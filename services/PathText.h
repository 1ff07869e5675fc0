#pragma once

#include <cstddef>
#include <string_view>

// Path text rules the services share: which characters separate, where a
// path's folder ends, and how far a Windows drive or share name reaches.
// Pure text work, for any character type.
namespace quavelle {

// Windows path functions take either separator.
template <class Char>
constexpr bool IsPathSeparator(Char c) noexcept {
  return c == Char('/') || c == Char('\\');
}

template <class Char>
constexpr bool IsAsciiLetter(Char c) noexcept {
  return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

template <class Char>
constexpr bool IsAsciiDigit(Char c) noexcept {
  return c >= Char('0') && c <= Char('9');
}

// The folder a POSIX path names its file in: "/d/a.docx" -> "/d", "/a" -> "/",
// "a" -> "" (no folder written).
template <class Char>
constexpr std::basic_string_view<Char> FolderOf(std::basic_string_view<Char> path) noexcept {
  const std::size_t slash = path.rfind(Char('/'));
  if (slash == std::basic_string_view<Char>::npos) return {};
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

// The name a POSIX path ends in: "/d/a.docx" -> "a.docx".
template <class Char>
constexpr std::basic_string_view<Char> FileNameOf(std::basic_string_view<Char> path) noexcept {
  const std::size_t slash = path.rfind(Char('/'));
  return slash == std::basic_string_view<Char>::npos ? path : path.substr(slash + 1);
}

namespace path_text_detail {

// Length of the non-empty component starting at from, or 0 when it is empty.
constexpr std::size_t ComponentLength(std::u16string_view text, std::size_t from) noexcept {
  std::size_t end = from;
  while (end < text.size() && !IsPathSeparator(text[end])) ++end;
  return end - from;
}

// Length of "server<sep>share" starting at from, or 0 when either is missing.
constexpr std::size_t ServerAndShareLength(std::u16string_view text, std::size_t from) noexcept {
  const std::size_t server = ComponentLength(text, from);
  if (server == 0 || from + server >= text.size()) return 0;
  const std::size_t share = ComponentLength(text, from + server + 1);
  if (share == 0) return 0;
  return server + 1 + share;
}

constexpr bool StartsWithDriveLetter(std::u16string_view text) noexcept {
  return text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == u':';
}

constexpr bool IsDevicePrefix(std::u16string_view text) noexcept {
  return text.size() >= 4 && IsPathSeparator(text[0]) && IsPathSeparator(text[1]) &&
         (text[2] == u'?' || text[2] == u'.') && IsPathSeparator(text[3]);
}

constexpr bool IsUncWord(std::u16string_view text, std::size_t at) noexcept {
  if (text.size() < at + 4 || !IsPathSeparator(text[at + 3])) return false;
  for (std::size_t k = 0; k < 3; ++k) {
    if ((text[at + k] | 0x20) != u"unc"[k]) return false;
  }
  return true;
}

}  // namespace path_text_detail

// How many characters of a Windows path form its drive: "C:" for a drive
// letter and colon, "\\srv1\proj" for a network server and share, 0 otherwise.
// A server without a share names no drive. The device prefixes "\\?\" and
// "\\.\" belong to what follows them: "\\?\UNC\srv1\proj\x" has the drive
// "\\?\UNC\srv1\proj", "\\?\C:\x" has "\\?\C:".
constexpr std::size_t DriveNameLength(std::u16string_view path) noexcept {
  using namespace path_text_detail;
  if (StartsWithDriveLetter(path)) return 2;
  if (path.size() < 2 || !IsPathSeparator(path[0]) || !IsPathSeparator(path[1])) return 0;
  if (IsDevicePrefix(path)) {
    if (StartsWithDriveLetter(path.substr(4))) return 6;
    if (IsUncWord(path, 4)) {
      const std::size_t length = ServerAndShareLength(path, 8);
      if (length != 0) return 8 + length;
    }
  }
  const std::size_t length = ServerAndShareLength(path, 2);
  return length == 0 ? 0 : 2 + length;
}

}  // namespace quavelle
