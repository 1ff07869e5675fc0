#include "services/docserver/PercentEscapes.h"

#include <string>

#include "services/docserver/TargetSuffix.h"

namespace quavelle::docserver::link_text {
namespace {

void AppendByteEscape(Text& out, unsigned byte, bool lowerHex) {
  const char16_t* digits = lowerHex ? u"0123456789abcdef" : u"0123456789ABCDEF";
  out += u'%';
  out += digits[(byte >> 4) & 0xF];
  out += digits[byte & 0xF];
}

void AppendUtf8Escapes(Text& out, char32_t cp, bool lowerHex) {
  if (cp < 0x800) {
    AppendByteEscape(out, 0xC0 | (cp >> 6), lowerHex);
  } else if (cp < 0x10000) {
    AppendByteEscape(out, 0xE0 | (cp >> 12), lowerHex);
    AppendByteEscape(out, 0x80 | ((cp >> 6) & 0x3F), lowerHex);
  } else {
    AppendByteEscape(out, 0xF0 | (cp >> 18), lowerHex);
    AppendByteEscape(out, 0x80 | ((cp >> 12) & 0x3F), lowerHex);
    AppendByteEscape(out, 0x80 | ((cp >> 6) & 0x3F), lowerHex);
  }
  AppendByteEscape(out, 0x80 | (cp & 0x3F), lowerHex);
}

bool IsUnreserved(char16_t c) {
  return IsAsciiAlnum(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

}  // namespace

int HexValue(char16_t c) {
  if (IsAsciiDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsEscape(View s, std::size_t i) {
  return i + 2 < s.size() && s[i] == u'%' && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0;
}

Text PercentDecode(View s) {
  Text out;
  out.reserve(s.size());
  std::string bytes;
  std::size_t i = 0;
  while (i < s.size()) {
    if (!IsEscape(s, i)) {
      out += s[i++];
      continue;
    }
    const std::size_t runStart = i;
    bytes.clear();
    while (IsEscape(s, i)) {
      bytes.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 3;
    }
    for (std::size_t k = 0; k < bytes.size();) {
      char32_t cp = 0;
      if (const std::size_t length = DecodeUtf8Sequence(bytes, k, cp)) {
        AppendUtf16(out, cp);
        k += length;
      } else {
        out += s.substr(runStart + 3 * k, 3);
        ++k;
      }
    }
  }
  return out;
}

Escaping ReadEscaping(View raw) {
  Escaping e;
  bool escapedNonAscii = false;
  bool rawNonAscii = false;
  bool upper = false;
  bool lower = false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (IsEscape(raw, i)) {
      const int byte = HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]);
      if (byte < 128) {
        e.ascii[static_cast<std::size_t>(byte)] = true;
      } else {
        escapedNonAscii = true;
      }
      for (std::size_t k = i + 1; k <= i + 2; ++k) {
        upper = upper || (raw[k] >= u'A' && raw[k] <= u'F');
        lower = lower || (raw[k] >= u'a' && raw[k] <= u'f');
      }
      i += 2;
    } else if (raw[i] == u' ') {
      e.rawSpace = true;
    } else if (raw[i] >= 0x80) {
      rawNonAscii = true;
    }
  }
  e.rawSpace = e.rawSpace && !e.ascii[u' '];
  e.nonAscii = escapedNonAscii && !rawNonAscii;
  e.lowerHex = lower && !upper;
  return e;
}

void AppendEscaped(Text& out, View text, const EscapeRules& rules) {
  const Escaping& e = rules.escaping;
  const auto staysSeparator = [&](char16_t c) {
    return IsSep(c) && !(c == u'\\' && rules.escapeBackslash);
  };
  std::size_t lastSegment = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (staysSeparator(text[i])) lastSegment = i + 1;
  }
  // The written segment so far, decoded, as reading looks for an item in it.
  Text segment = PercentDecode(View(out).substr(LastSegmentStart(out)));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (staysSeparator(c)) {
      segment.clear();
    } else {
      segment += c;
    }
    if (c < 0x80) {
      bool escape = c < 0x20 || c == 0x7F || c == u'%' || c == u'#' || c == u'?';
      if (c == u' ') {
        escape = !e.rawSpace;
      } else if (c == u'\\' && rules.escapeBackslash) {
        escape = true;
      } else if (!IsSep(c) && !IsUnreserved(c) && e.ascii[c]) {
        escape = true;
      }
      // Whether the text as written or as decoded shows an extension, a '!'
      // after it would start an item.
      if (c == u'!' && rules.guardItems && i >= lastSegment &&
          (EndsWithExtension(out, out.size()) || EndsWithExtension(segment, segment.size() - 1))) {
        escape = true;
      }
      if (escape) {
        AppendByteEscape(out, c, e.lowerHex);
      } else {
        out += c;
      }
      continue;
    }
    if (!e.nonAscii) {
      out += c;
      continue;
    }
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8Escapes(out, CodePointOfPair(c, text[i + 1]), e.lowerHex);
      segment += text[++i];
    } else if (IsSurrogate(c)) {
      out += c;  // a lone surrogate has no UTF-8 form; keep it as it is
    } else {
      AppendUtf8Escapes(out, c, e.lowerHex);
    }
  }
}

}  // namespace quavelle::docserver::link_text
