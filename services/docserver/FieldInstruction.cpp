#include "services/docserver/FieldInstruction.h"

#include <vector>

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0x00A0; }

std::vector<FieldPathArgument> Tokens(std::u16string_view s) {
  std::vector<FieldPathArgument> out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    FieldPathArgument t;
    t.begin = i;
    if (s[i] == u'"') {
      t.quoted = true;
      ++i;
      while (i < s.size() && s[i] != u'"') {
        if (s[i] == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) ++i;
        t.value += s[i++];
      }
      if (i < s.size()) ++i;  // the closing quote
    } else {
      while (i < s.size() && !IsBlank(s[i])) {
        if (s[i] == u'\\' && i + 1 < s.size() && s[i + 1] == u'\\') ++i;
        t.value += s[i++];
      }
    }
    t.end = i;
    out.push_back(std::move(t));
  }
  return out;
}

std::u16string Upper(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return out;
}

}  // namespace

std::optional<FieldPathArgument> FindFieldPath(std::u16string_view instruction) {
  std::vector<FieldPathArgument> tokens = Tokens(instruction);
  if (tokens.empty() || tokens[0].quoted) return std::nullopt;
  const std::u16string code = Upper(tokens[0].value);
  std::size_t index = 0;
  if (code == u"HYPERLINK" || code == u"INCLUDETEXT" || code == u"INCLUDE" ||
      code == u"INCLUDEPICTURE" || code == u"IMPORT") {
    index = 1;
  } else if (code == u"LINK") {
    index = 2;  // after the program name
  } else {
    return std::nullopt;
  }
  if (index >= tokens.size()) return std::nullopt;
  for (std::size_t i = 1; i <= index; ++i) {
    // A switch before the path: not a form this reads.
    if (!tokens[i].quoted && !tokens[i].value.empty() && tokens[i].value[0] == u'\\')
      return std::nullopt;
  }
  if (tokens[index].value.empty()) return std::nullopt;
  return tokens[index];
}

std::u16string QuoteFieldArgument(std::u16string_view value) {
  std::u16string out = u"\"";
  for (char16_t c : value) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  return out + u"\"";
}

}  // namespace quavelle::docserver
