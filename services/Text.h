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

// Length of the well-formed UTF-8 sequence at bytes[i] and its code point in
// cp, or 0 when the sequence is ill-formed (overlong, surrogate, cut short).
std::size_t DecodeUtf8Sequence(std::string_view bytes, std::size_t i, char32_t& cp) noexcept;
// Appends cp as one unit or a surrogate pair.
void AppendUtf16(std::u16string& out, char32_t cp);

// UTF-16 surrogates: a high unit followed by a low one forms one code point.
constexpr bool IsHighSurrogate(char32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDFFF; }
constexpr char32_t CodePointOfPair(char32_t high, char32_t low) noexcept {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Simple case folding, one UTF-16 unit for one unit: A-Z always, other letters
// by the Unicode simple folding where both forms are single BMP units.
char16_t FoldCase(char16_t unit) noexcept;

}  // namespace quavelle
