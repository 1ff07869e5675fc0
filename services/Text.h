#pragma once

#include <string>
#include <string_view>

// Conversions between the program's UTF-16 text and the byte forms that files,
// XML parts and the OS use.
namespace quavelle {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Ill-formed sequences become U+FFFD.
std::u16string FromUtf8(std::string_view bytes);
// Convenience for literals and tests.
std::u16string FromUtf8(const char8_t* text);

// A POSIX file name is bytes, not always UTF-8. Each byte of an ill-formed
// sequence maps to the lone surrogate U+DC80..U+DCFF, so any name round-trips.
std::u16string NativePathToText(std::string_view bytes);
std::string TextToNativePath(std::u16string_view text);

// Simple case folding, one UTF-16 unit for one unit: A-Z always, other letters
// by the Unicode simple folding where both forms are single BMP units.
char16_t FoldCase(char16_t unit) noexcept;

}  // namespace quavelle
