#include "services/docserver/FieldInstruction.h"

#include <array>

namespace quavelle::docserver {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether every run of backslashes in raw is of even length; a backslash
// before a quotation mark escapes it and is not counted.
bool AllRunsEven(std::string_view raw, bool& any) {
  any = false;
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] != '\\') {
      ++i;
      continue;
    }
    std::size_t run = 0;
    while (i < raw.size() && raw[i] == '\\') ++run, ++i;
    if (i < raw.size() && raw[i] == '"' && run % 2 == 1) --run;
    if (run == 0) continue;
    any = true;
    if (run % 2 != 0) return false;
  }
  return true;
}

std::string Unescape(std::string_view raw, bool doubled) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() &&
        (raw[i + 1] == '"' || (doubled && raw[i + 1] == '\\'))) {
      out += raw[++i];
    } else {
      out += raw[i];
    }
  }
  return out;
}

FieldToken ReadToken(std::string_view text, std::size_t& i) {
  FieldToken token;
  token.begin = i;
  std::string_view raw;
  if (text[i] == '"') {
    token.quoted = true;
    std::size_t j = i + 1;
    std::size_t run = 0;
    while (j < text.size() && !(text[j] == '"' && run % 2 == 0)) {
      run = text[j] == '\\' ? run + 1 : 0;
      ++j;
    }
    raw = text.substr(i + 1, j - i - 1);
    i = j < text.size() ? j + 1 : j;
  } else {
    std::size_t j = i;
    while (j < text.size() && !IsBlank(text[j])) ++j;
    raw = text.substr(i, j - i);
    i = j;
    token.isSwitch = raw.size() == 2 && raw[0] == '\\';
  }
  token.end = i;
  bool any = false;
  token.doubled = !token.isSwitch && AllRunsEven(raw, any) && any;
  token.value = token.isSwitch ? std::string(raw) : Unescape(raw, token.doubled);
  return token;
}

std::string Write(std::string_view value, bool quoted, bool doubled) {
  std::string out;
  if (quoted) out += '"';
  for (char c : value) {
    if (c == '"' || (doubled && c == '\\')) out += '\\';
    out += c;
  }
  if (quoted) out += '"';
  return out;
}

bool ReadsBackAs(const std::string& written, std::string_view value) {
  const std::vector<FieldToken> tokens = TokenizeField(written);
  return tokens.size() == 1 && tokens[0].end == written.size() && tokens[0].value == value &&
         !tokens[0].isSwitch;
}

}  // namespace

std::vector<FieldToken> TokenizeField(std::string_view instruction) {
  std::vector<FieldToken> tokens;
  std::size_t i = 0;
  while (true) {
    while (i < instruction.size() && IsBlank(instruction[i])) ++i;
    if (i >= instruction.size()) break;
    tokens.push_back(ReadToken(instruction, i));
  }
  return tokens;
}

std::string WriteFieldArgument(const FieldToken& original, std::string_view value) {
  bool needsQuotes = original.quoted || value.empty() || value.find('"') != std::string::npos;
  for (char c : value) needsQuotes = needsQuotes || IsBlank(c);
  // Literal backslashes only where the argument had them, and only when that
  // reads back; otherwise doubled, as word processors write them.
  bool literalBackslash = false;
  if (!original.doubled) {
    for (char c : original.value) literalBackslash = literalBackslash || c == '\\';
  }
  if (literalBackslash) {
    std::string literal = Write(value, needsQuotes, false);
    if (ReadsBackAs(literal, value)) return literal;
  }
  std::string doubled = Write(value, needsQuotes, true);
  if (ReadsBackAs(doubled, value)) return doubled;
  return Write(value, true, true);
}

std::string FieldName(const std::vector<FieldToken>& tokens) {
  if (tokens.empty() || tokens[0].quoted) return {};
  std::string name;
  for (char c : tokens[0].value) name += Upper(c);
  return name;
}

std::size_t FileArgument(const std::vector<FieldToken>& tokens) {
  const std::string name = FieldName(tokens);
  if (name == "DATABASE") {
    for (std::size_t k = 1; k + 1 < tokens.size(); ++k) {
      if (tokens[k].isSwitch && (tokens[k].value == "\\d" || tokens[k].value == "\\D")) {
        return tokens[k + 1].isSwitch ? kNoToken : k + 1;
      }
    }
    return kNoToken;
  }
  constexpr std::array<std::string_view, 6> kFirst = {"INCLUDETEXT", "INCLUDE",   "INCLUDEPICTURE",
                                                      "IMPORT",      "HYPERLINK", "RD"};
  constexpr std::array<std::string_view, 3> kSecond = {"LINK", "DDE", "DDEAUTO"};
  std::size_t position = kNoToken;
  for (std::string_view known : kFirst) {
    if (name == known) position = 0;
  }
  for (std::string_view known : kSecond) {
    if (name == known) position = 1;
  }
  if (position == kNoToken) return kNoToken;
  std::size_t seen = 0;
  for (std::size_t k = 1; k < tokens.size() && !tokens[k].isSwitch; ++k, ++seen) {
    if (seen == position) return k;
  }
  return kNoToken;
}

std::size_t ConnectionArgument(const std::vector<FieldToken>& tokens) {
  if (FieldName(tokens) != "DATABASE") return kNoToken;
  for (std::size_t k = 1; k + 1 < tokens.size(); ++k) {
    if (tokens[k].isSwitch && (tokens[k].value == "\\c" || tokens[k].value == "\\C")) {
      return tokens[k + 1].isSwitch ? kNoToken : k + 1;
    }
  }
  return kNoToken;
}

}  // namespace quavelle::docserver
