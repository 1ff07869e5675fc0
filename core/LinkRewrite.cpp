#include "core/LinkRewrite.h"

#include "services/Text.h"

namespace quavelle {
namespace {

// A match that began or ended inside a surrogate pair would cut the character in
// two and leave lone surrogates in the rewritten path.
bool SplitsPair(std::u16string_view text, std::size_t pos, std::size_t len) {
  const std::size_t end = pos + len;
  const bool cutsAtStart = pos > 0 && IsHighSurrogate(text[pos - 1]) && IsLowSurrogate(text[pos]);
  const bool cutsAtEnd =
      end < text.size() && IsHighSurrogate(text[end - 1]) && IsLowSurrogate(text[end]);
  return cutsAtStart || cutsAtEnd;
}

bool EqualAt(std::u16string_view haystack, std::size_t pos, std::u16string_view needle) {
  for (std::size_t i = 0; i < needle.size(); ++i) {
    if (FoldCase(haystack[pos + i]) != FoldCase(needle[i])) return false;
  }
  return true;
}

// FoldCase maps one unit to one unit, so the match has the needle's length and
// the replacement lands exactly where it was found.
std::u16string ReplaceFirst(std::u16string_view text, std::u16string_view find,
                            std::u16string_view with) {
  const std::size_t pos = find.empty() ? std::u16string_view::npos : FindIgnoringCase(text, find);
  std::u16string out(text);
  if (pos != std::u16string_view::npos) out.replace(pos, find.size(), with);
  return out;
}

}  // namespace

std::size_t FindIgnoringCase(std::u16string_view haystack, std::u16string_view needle) noexcept {
  if (needle.empty()) return 0;
  if (needle.size() > haystack.size()) return std::u16string_view::npos;
  for (std::size_t pos = 0; pos + needle.size() <= haystack.size(); ++pos) {
    if (EqualAt(haystack, pos, needle) && !SplitsPair(haystack, pos, needle.size())) return pos;
  }
  return std::u16string_view::npos;
}

bool DriveMatches(std::u16string_view driveName, std::u16string_view currentText) noexcept {
  return !driveName.empty() &&
         FindIgnoringCase(driveName, currentText) != std::u16string_view::npos;
}

RewrittenLink RewriteLink(std::u16string_view absolutePath, std::u16string_view driveName,
                          std::u16string_view currentText, std::u16string_view newText) {
  RewrittenLink link;
  link.newDriveName = ReplaceFirst(driveName, currentText, newText);
  link.newPath = ReplaceFirst(absolutePath, driveName, link.newDriveName);
  return link;
}

}  // namespace quavelle
