#include "services/Text.h"

#include <cstdint>

namespace quavelle {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

std::size_t DecodeUtf8Sequence(std::string_view bytes, std::size_t i, char32_t& cp) noexcept {
  const auto b0 = static_cast<unsigned char>(bytes[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - i < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(bytes[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || IsHighSurrogate(cp) || IsLowSurrogate(cp)) return 0;
  return len;
}

namespace {

template <class OnIllFormedByte>
std::u16string Decode(std::string_view bytes, OnIllFormedByte onIllFormed) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    if (const std::size_t len = DecodeUtf8Sequence(bytes, i, cp)) {
      AppendUtf16(out, cp);
      i += len;
    } else {
      onIllFormed(out, static_cast<unsigned char>(bytes[i]));
      ++i;
    }
  }
  return out;
}

template <class OnLoneSurrogate>
std::string Encode(std::u16string_view text, OnLoneSurrogate onLone) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, CodePointOfPair(u, text[i + 1]));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      onLone(out, u);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  return Encode(text, [](std::string& out, char32_t) { AppendUtf8(out, kReplacement); });
}

std::u16string FromUtf8(std::string_view bytes) {
  return Decode(bytes, [](std::u16string& out, unsigned char) { out += char16_t{0xFFFD}; });
}

std::u16string FromUtf8(const char8_t* text) {
  return FromUtf8(std::string_view(reinterpret_cast<const char*>(text)));
}

std::u16string NativePathToText(std::string_view bytes) {
  return Decode(bytes, [](std::u16string& out, unsigned char b) {
    out += static_cast<char16_t>(0xDC00 + b);
  });
}

std::string TextToNativePath(std::u16string_view text) {
  return Encode(text, [](std::string& out, char32_t u) {
    if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);
    } else {
      AppendUtf8(out, kReplacement);
    }
  });
}

}  // namespace quavelle
