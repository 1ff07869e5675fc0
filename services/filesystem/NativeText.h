#pragma once

#include <string>
#include <string_view>

// The native-name conversions of services/Text.h, with a fast path for the
// all-ASCII names that most walks meet, writing into the caller's buffer.
namespace quavelle {

void AppendNativeAsText(std::u16string& out, std::string_view native);
void AssignTextAsNative(std::string& out, std::u16string_view text);

}  // namespace quavelle
