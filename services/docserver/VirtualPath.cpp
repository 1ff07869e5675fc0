#include "services/docserver/VirtualPath.h"

namespace quavelle::docserver {
namespace {

constexpr char16_t kEncoded = 0x01;     // starts an encoded path; twice, a volume follows
constexpr char16_t kSameVolume = 0x02;  // the root of the workbook's own volume
constexpr char16_t kSubDir = 0x03;
constexpr char16_t kParentDir = 0x04;
constexpr char16_t kServer = u'@';  // as the volume: a server name follows

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

std::optional<std::u16string> DecodeVirtualPath(std::u16string_view s) {
  if (s.empty()) return std::nullopt;
  if (s[0] != kEncoded) {
    for (char16_t c : s) {
      if (c < 0x20) return std::nullopt;  // "application\x03topic": DDE or OLE
    }
    return std::u16string(s);
  }
  std::u16string out;
  std::size_t i = 1;
  if (i < s.size() && s[i] == kEncoded) {
    if (i + 1 >= s.size()) return std::nullopt;
    const char16_t volume = s[i + 1];
    i += 2;
    if (volume == kServer) {
      out = u"\\\\";
    } else if (IsLetter(volume)) {
      out = std::u16string(1, volume) + u":\\";
    } else {
      return std::nullopt;
    }
  } else if (i < s.size() && s[i] == kSameVolume) {
    out = u"\\";
    ++i;
  } else if (i < s.size() && s[i] >= 0x05 && s[i] <= 0x08) {
    return std::nullopt;  // a web address, or the startup or library folder
  }
  for (; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == kSubDir) {
      out += u'\\';
    } else if (c == kParentDir) {
      out += u"..\\";
      if (i + 1 < s.size() && s[i + 1] == kSubDir) ++i;
    } else if (c < 0x20) {
      return std::nullopt;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::u16string> EncodeVirtualPath(std::u16string_view path) {
  std::u16string out(1, kEncoded);
  std::u16string_view rest;
  if (path.size() > 3 && IsLetter(path[0]) && path[1] == u':' && path[2] == u'\\') {
    out += kEncoded;
    out += path[0];
    rest = path.substr(3);
  } else if (path.size() > 2 && path.substr(0, 2) == u"\\\\" && path[2] != u'\\') {
    out += kEncoded;
    out += kServer;
    rest = path.substr(2);
  } else {
    return std::nullopt;
  }
  for (char16_t c : rest) {
    if (c < 0x20) return std::nullopt;
    out += c == u'\\' ? kSubDir : c;
  }
  return out;
}

}  // namespace quavelle::docserver
