#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "services/PathText.h"
#include "services/Text.h"

// Character rules the link target readers and writers share.
namespace quavelle::docserver::link_text {

using Text = std::u16string;
using View = std::u16string_view;
inline constexpr std::size_t npos = View::npos;

inline bool IsSep(char16_t c) { return IsPathSeparator(c); }
inline bool IsAsciiAlnum(char16_t c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }

inline bool FoldEqual(View a, View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// a equals the lower-case ASCII word, letter case ignored.
inline bool AsciiEqualNoCase(View a, View lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t c = a[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Index of the first separator at or after from, or s.size().
inline std::size_t FindSep(View s, std::size_t from) {
  for (std::size_t i = from; i < s.size(); ++i) {
    if (IsSep(s[i])) return i;
  }
  return s.size();
}

inline std::size_t LastSegmentStart(View s) {
  const std::size_t last = s.find_last_of(u"/\\");
  return last == npos ? 0 : last + 1;
}

inline Text WithSeparator(View text, char16_t sep) {
  Text out(text);
  for (char16_t& c : out) {
    if (IsSep(c)) c = sep;
  }
  return out;
}

inline Text WindowsSeparators(View text) { return WithSeparator(text, u'\\'); }

}  // namespace quavelle::docserver::link_text
