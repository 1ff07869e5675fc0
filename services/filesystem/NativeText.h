#pragma once

#include <string>
#include <string_view>

// The native-name conversions of services/Text.h, with a fast path for the
// all-ASCII names that most walks meet, writing into the caller's buffer.
namespace quavelle {

void AppendNativeAsText(std::u16string& out, std::string_view native);

// False, leaving out unspecified, when no native path corresponds to the text:
// it holds a NUL, which would cut the name short, or a lone surrogate that is
// not one of the U+DC80..U+DCFF stand-ins for undecodable bytes, which would be
// replaced and so name some other entry.
bool TextToNativePathExactly(std::u16string_view text, std::string& out);

}  // namespace quavelle
