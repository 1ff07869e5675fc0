#include "services/docserver/ConnectionString.h"

#include <array>

#include "services/PathText.h"
#include "services/Text.h"

namespace quavelle::docserver {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string Quoted(std::string_view value, char quote) {
  std::string out(1, quote);
  for (char c : value) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

}  // namespace

std::vector<ConnectionValue> ParseConnectionString(std::string_view text) {
  std::vector<ConnectionValue> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) break;
    ConnectionValue v;
    v.key = Trimmed(text.substr(i, equals - i));
    std::size_t p = equals + 1;
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
      v.quote = text[p];
      v.begin = p++;
      while (p < text.size()) {
        if (text[p] == v.quote) {
          if (p + 1 < text.size() && text[p + 1] == v.quote) {
            v.value += v.quote;
            p += 2;
            continue;
          }
          break;
        }
        v.value += text[p++];
      }
      if (p >= text.size()) break;  // an unterminated quote: nothing more is certain
      v.end = ++p;
      while (p < text.size() && text[p] != ';') ++p;
    } else {
      v.begin = p;
      while (p < text.size() && text[p] != ';') ++p;
      std::size_t end = p;
      while (end > v.begin && IsSpace(text[end - 1])) --end;
      v.end = end;
      v.value = text.substr(v.begin, end - v.begin);
    }
    out.push_back(std::move(v));
    i = p + 1;
  }
  return out;
}

bool IsFileKey(std::string_view key) {
  constexpr std::array<std::string_view, 6> kKeys = {
      "data source",     "dbq", "defaultdir", "jet oledb:system database", "jet oledb:database",
      "attachdbfilename"};
  for (std::string_view known : kKeys) {
    if (EqualsIgnoringAsciiCase(key, known)) return true;
  }
  return false;
}

std::string WithConnectionValue(std::string_view text, const ConnectionValue& value,
                                std::string_view newValue) {
  std::string written;
  if (value.quote != 0) {
    written = Quoted(newValue, value.quote);
  } else if (newValue.find_first_of(";\"'") != std::string_view::npos ||
             Trimmed(newValue).size() != newValue.size()) {
    written = Quoted(newValue, '"');
  } else {
    written = newValue;
  }
  std::string out(text.substr(0, value.begin));
  out += written;
  out += text.substr(value.end);
  return out;
}

bool NamesFileByFullPath(std::string_view text) {
  if (text.size() >= 5 && EqualsIgnoringAsciiCase(text.substr(0, 5), "file:")) return true;
  return DriveNameLength(FromUtf8(text)) > 0;
}

PlaceWriter ConnectionValueWriter(std::size_t index) {
  return [index](const std::vector<std::string>& current, std::string_view oldReference,
                 std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 1) return std::nullopt;
    const std::vector<ConnectionValue> values = ParseConnectionString(current[0]);
    if (index >= values.size() || values[index].value != oldReference) return std::nullopt;
    return std::vector<std::string>{WithConnectionValue(current[0], values[index], newReference)};
  };
}

void FindConnectionLinks(std::string_view text, const ValueSlot& slot,
                         const std::shared_ptr<const TargetContext>& context,
                         const std::string& joinKey, std::vector<FoundLink>& out) {
  const std::vector<ConnectionValue> values = ParseConnectionString(text);
  for (std::size_t v = 0; v < values.size(); ++v) {
    if (!IsFileKey(values[v].key) || !NamesFileByFullPath(values[v].value)) continue;
    std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(values[v].value), *context);
    if (!target) continue;
    FoundLink link =
        SlotLink({slot}, ConnectionValueWriter(v), values[v].value, context, std::move(*target));
    link.joinKey = joinKey;
    link.joinsAsCompanion = true;
    out.push_back(std::move(link));
  }
}

}  // namespace quavelle::docserver
