#include "services/filesystem/NativeText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "services/Text.h"

namespace quavelle {
namespace {

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

// The fast paths run once per file of a walk: they look at every unit without
// stopping early, which the compiler turns into wide loads.
bool IsAllAscii(std::string_view native) {
  unsigned char any = 0;
  for (const char c : native) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// Copies text to out when every unit is ASCII and none is NUL, checking four
// units at a time: this runs for every file of a walk.
bool NarrowAscii(std::u16string_view text, std::string& out) {
  out.resize(text.size());
  const char16_t* from = text.data();
  char* to = out.data();
  std::size_t i = 0;
  for (; i + 4 <= text.size(); i += 4) {
    std::uint64_t units = 0;
    std::memcpy(&units, from + i, sizeof units);
    if ((units & 0xFF80FF80FF80FF80ULL) != 0) return false;
    // With every unit below 0x80, a top bit after subtracting one from each
    // means a unit was zero (or borrowed from one that was).
    if (((units - 0x0001000100010001ULL) & 0x8000800080008000ULL) != 0) return false;
    for (std::size_t k = i; k < i + 4; ++k) to[k] = static_cast<char>(from[k]);
  }
  for (; i < text.size(); ++i) {
    if (from[i] == 0 || from[i] >= 0x80) return false;
    to[i] = static_cast<char>(from[i]);
  }
  return true;
}

}  // namespace

void AppendNativeAsText(std::u16string& out, std::string_view native) {
  if (IsAllAscii(native)) {
    const std::size_t start = out.size();
    out.resize(start + native.size());
    std::copy(native.begin(), native.end(), out.begin() + static_cast<std::ptrdiff_t>(start));
  } else {
    out += NativePathToText(native);
  }
}

bool TextToNativePathExactly(std::u16string_view text, std::string& out) {
  if (NarrowAscii(text, out)) return true;
  if (!HasNativeForm(text)) return false;
  out = TextToNativePath(text);
  return true;
}

}  // namespace quavelle
