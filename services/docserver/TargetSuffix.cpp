#include "services/docserver/TargetSuffix.h"

#include <utility>
#include <vector>

#include "services/docserver/PercentEscapes.h"

namespace quavelle::docserver::link_text {
namespace {

// The last path segment as reading sees it: escapes decoded when the text is a
// URI, so that "a%2Exlsx!b" and "a.xlsx!b" split alike. Also where each literal
// '!' and '#' landed. Neither can be part of an escape, so decoding the pieces
// between them gives the same text as decoding the whole segment.
struct MarkedSegment {
  Text text;
  std::vector<std::pair<std::size_t, std::size_t>> marks;  // index in the raw text, in `text`
};

MarkedSegment ReadLastSegment(View s, bool decode) {
  MarkedSegment m;
  std::size_t start = LastSegmentStart(s);
  for (std::size_t i = start; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != u'!' && s[i] != u'#') continue;
    const View piece = s.substr(start, i - start);
    m.text += decode ? PercentDecode(piece) : Text(piece);
    if (i == s.size()) break;
    m.marks.emplace_back(i, m.text.size());
    m.text += s[i];
    start = i + 1;
  }
  return m;
}

}  // namespace

bool EndsWithExtension(View s, std::size_t end) {
  constexpr std::size_t kMaxExtension = 10;
  std::size_t i = end;
  std::size_t length = 0;
  bool letter = false;
  while (i > 0 && length <= kMaxExtension && IsAsciiAlnum(s[i - 1])) {
    letter = letter || IsAsciiLetter(s[i - 1]);
    --i;
    ++length;
  }
  if (length == 0 || length > kMaxExtension || !letter) return false;
  if (i == 0 || s[i - 1] != u'.') return false;
  --i;
  return i > 0 && !IsSep(s[i - 1]);
}

std::size_t FindItem(View s, bool decode) {
  const MarkedSegment m = ReadLastSegment(s, decode);
  for (const auto& [raw, at] : m.marks) {
    if (s[raw] == u'!' && EndsWithExtension(m.text, at)) return raw;
  }
  return npos;
}

std::size_t FindPlainFragment(View s, bool decode) {
  const MarkedSegment m = ReadLastSegment(s, decode);
  for (const auto& [raw, at] : m.marks) {
    if (s[raw] != u'#' || !EndsWithExtension(m.text, at)) continue;
    const View rest = View(m.text).substr(at + 1);
    if (!EndsWithExtension(rest, rest.size())) return raw;
  }
  return npos;
}

}  // namespace quavelle::docserver::link_text
