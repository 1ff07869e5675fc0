#include "services/filesystem/NativeText.h"

#include <algorithm>

#include "services/Text.h"

namespace quavelle {

void AppendNativeAsText(std::u16string& out, std::string_view native) {
  if (std::all_of(native.begin(), native.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    out.append(native.begin(), native.end());
  } else {
    out += NativePathToText(native);
  }
}

void AssignTextAsNative(std::string& out, std::u16string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
    out.assign(text.begin(), text.end());
  } else {
    out = TextToNativePath(text);
  }
}

}  // namespace quavelle
