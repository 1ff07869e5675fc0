#include "services/docserver/Utf7.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool Direct(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
    return true;
  }
  return c < 0x80 && std::u16string_view(u" '(),-./:?!\"#$%&*;<=>@[]^_`{|}").find(c) !=
                         std::u16string_view::npos;
}

int Base64Value(char c) {
  const std::size_t at = kBase64.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

std::string EncodeUtf7(std::u16string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (Direct(c)) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (c == u'+') {
      out += "+-";
      ++i;
      continue;
    }
    out.push_back('+');
    unsigned bits = 0;
    int count = 0;
    for (; i < text.size() && !Direct(text[i]) && text[i] != u'+'; ++i) {
      bits = (bits << 16) | text[i];
      count += 16;
      while (count >= 6) {
        count -= 6;
        out.push_back(kBase64[(bits >> count) & 0x3F]);
      }
    }
    if (count > 0) out.push_back(kBase64[(bits << (6 - count)) & 0x3F]);
    out.push_back('-');
  }
  return out;
}

std::optional<std::u16string> DecodeUtf7(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i++];
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    if (c != '+') {
      out.push_back(static_cast<char16_t>(c));
      continue;
    }
    if (i < text.size() && text[i] == '-') {
      out.push_back(u'+');
      ++i;
      continue;
    }
    unsigned bits = 0;
    int count = 0;
    while (i < text.size() && Base64Value(text[i]) >= 0) {
      bits = (bits << 6) | static_cast<unsigned>(Base64Value(text[i++]));
      count += 6;
      if (count >= 16) {
        count -= 16;
        out.push_back(static_cast<char16_t>((bits >> count) & 0xFFFF));
      }
    }
    if ((bits & ((1u << count) - 1)) != 0) return std::nullopt;  // stray bits
    if (i < text.size() && text[i] == '-') ++i;
  }
  return out;
}

}  // namespace quavelle::docserver
