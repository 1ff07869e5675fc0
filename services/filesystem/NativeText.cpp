#include "services/filesystem/NativeText.h"

#include <algorithm>

#include "services/Text.h"

namespace quavelle {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool IsByteStandIn(char16_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

bool HasNativeForm(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u == 0) return false;
    if (IsHighSurrogate(u)) {
      if (i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        ++i;
      } else {
        return false;
      }
    } else if (IsLowSurrogate(u) && !IsByteStandIn(u)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void AppendNativeAsText(std::u16string& out, std::string_view native) {
  if (std::all_of(native.begin(), native.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    out.append(native.begin(), native.end());
  } else {
    out += NativePathToText(native);
  }
}

bool TextToNativePathExactly(std::u16string_view text, std::string& out) {
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c != 0 && c < 0x80; })) {
    out.assign(text.begin(), text.end());
    return true;
  }
  if (!HasNativeForm(text)) return false;
  out = TextToNativePath(text);
  return true;
}

}  // namespace quavelle
