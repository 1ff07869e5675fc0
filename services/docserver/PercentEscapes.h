#pragma once

#include <array>

#include "services/docserver/LinkText.h"

// %XX escapes in file URLs and relative references: decoding them, and
// writing new text escaped the way a reference already was.
namespace quavelle::docserver::link_text {

int HexValue(char16_t c);
// Whether s[i] starts a well-formed %XX escape.
bool IsEscape(View s, std::size_t i);

// Decodes %XX escapes as UTF-8. Escapes that do not form well-formed UTF-8 stay
// as written, so no reference decodes to a replacement character.
Text PercentDecode(View s);

// How a reference escaped its text, so that a rewritten one escapes alike.
struct Escaping {
  std::array<bool, 128> ascii{};  // ASCII characters written as %XX
  bool rawSpace = false;          // spaces written as they are
  bool nonAscii = false;          // non-ASCII written as percent-encoded UTF-8
  bool lowerHex = false;
};

Escaping ReadEscaping(View raw);

struct EscapeRules {
  Escaping escaping;
  bool guardItems = false;       // Office Open XML: a '!' after an extension would start an item
  bool escapeBackslash = false;  // POSIX names in a URL, where '\' would read as a separator
};

// Appends text escaped for a URL or a relative reference. Separators stay; the
// characters that reading splits or decodes at ('%', '#', '?') are always
// escaped. Unreserved characters never are, whatever the original did: an
// escaped letter or dot would hide a file name extension from a reader that
// looks at the text as written.
void AppendEscaped(Text& out, View text, const EscapeRules& rules);

}  // namespace quavelle::docserver::link_text
