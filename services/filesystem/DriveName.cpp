#include "services/filesystem/DriveName.h"

namespace quavelle {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool StartsWithDriveLetter(std::u16string_view text) {
  return text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == u':';
}

// Length of the non-empty component starting at `from`, or 0 when it is empty.
std::size_t ComponentLength(std::u16string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && !IsSeparator(text[end])) ++end;
  return end - from;
}

// Length of "server<sep>share" starting at `from`, or 0 when either is missing.
std::size_t ServerAndShareLength(std::u16string_view text, std::size_t from) {
  const std::size_t server = ComponentLength(text, from);
  if (server == 0 || from + server >= text.size()) return 0;
  const std::size_t share = ComponentLength(text, from + server + 1);
  if (share == 0) return 0;
  return server + 1 + share;
}

bool IsDevicePrefix(std::u16string_view text) {
  return text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
         (text[2] == u'?' || text[2] == u'.') && IsSeparator(text[3]);
}

bool IsUncWord(std::u16string_view text, std::size_t at) {
  if (text.size() < at + 4 || !IsSeparator(text[at + 3])) return false;
  for (std::size_t k = 0; k < 3; ++k) {
    if ((text[at + k] | 0x20) != u"unc"[k]) return false;
  }
  return true;
}

}  // namespace

std::u16string DriveNameOf(std::u16string_view path) {
  if (StartsWithDriveLetter(path)) return std::u16string(path.substr(0, 2));
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return {};

  if (IsDevicePrefix(path)) {
    if (StartsWithDriveLetter(path.substr(4))) return std::u16string(path.substr(0, 6));
    if (IsUncWord(path, 4)) {
      const std::size_t length = ServerAndShareLength(path, 8);
      if (length != 0) return std::u16string(path.substr(0, 8 + length));
    }
  }
  const std::size_t length = ServerAndShareLength(path, 2);
  if (length == 0) return {};
  return std::u16string(path.substr(0, 2 + length));
}

}  // namespace quavelle
