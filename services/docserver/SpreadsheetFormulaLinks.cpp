#include "services/docserver/SpreadsheetFormulaLinks.h"

#include <algorithm>
#include <optional>
#include <string>

#include "services/Text.h"
#include "services/docserver/OpenDocumentCarrierLinks.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

bool IsSpreadsheetMl(std::string_view uri) {
  return uri == "http://schemas.openxmlformats.org/spreadsheetml/2006/main" ||
         uri == "http://purl.oclc.org/ooxml/spreadsheetml/main";
}

struct QuotedSheet {
  std::size_t begin = 0;  // the opening quote
  std::size_t end = 0;    // after the closing quote
  std::string text;       // unquoted: "C:\Data\[plan.xlsx]Sheet1"
};

// The quoted sheet references of a formula: '...'! with quotes doubled inside.
std::vector<QuotedSheet> QuotedSheets(std::string_view formula) {
  std::vector<QuotedSheet> out;
  bool inString = false;  // "..." string literals hold no references
  for (std::size_t i = 0; i < formula.size(); ++i) {
    if (formula[i] == '"') inString = !inString;
    if (inString || formula[i] != '\'') continue;
    QuotedSheet sheet;
    sheet.begin = i;
    std::size_t at = i + 1;
    for (; at < formula.size(); ++at) {
      if (formula[at] != '\'') {
        sheet.text += formula[at];
      } else if (at + 1 < formula.size() && formula[at + 1] == '\'') {
        sheet.text += formula[at++];
      } else {
        break;
      }
    }
    if (at >= formula.size()) break;
    sheet.end = at + 1;
    if (sheet.end < formula.size() && formula[sheet.end] == '!') out.push_back(sheet);
    i = at;
  }
  return out;
}

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

PlaceWriter FormulaWriter() {
  return [](const std::vector<std::string>& current, std::string_view oldReference,
            std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 1) return std::nullopt;
    std::string out;
    std::size_t copied = 0;
    bool moved = false;
    for (const QuotedSheet& sheet : QuotedSheets(current[0])) {
      std::optional<TopicPath> topic = ReadTopic(sheet.text);
      if (!topic || topic->after.empty() || topic->path != oldReference) continue;
      out.append(current[0], copied, sheet.begin - copied);
      out += Quoted(WriteTopic(*topic, newReference));
      copied = sheet.end;
      moved = true;
    }
    if (!moved) return std::nullopt;
    out.append(current[0], copied);
    return std::vector<std::string>{std::move(out)};
  };
}

}  // namespace

bool IsWorksheetPart(std::string_view entryName) {
  constexpr std::string_view kFolder = "xl/worksheets/";
  return entryName.size() > kFolder.size() &&
         EqualsIgnoringAsciiCase(entryName.substr(0, kFolder.size()), kFolder) &&
         entryName.find('/', kFolder.size()) == std::string_view::npos &&
         EndsWithIgnoringAsciiCase(entryName, ".xml");
}

void FindSpreadsheetFormulaLinks(const XmlPart& part,
                                 const std::shared_ptr<const TargetContext>& context,
                                 std::vector<FoundLink>& out) {
  part.ForEachElement([&](const XmlElement& element) {
    if (element.localName != "f" || !IsSpreadsheetMl(element.namespaceUri)) return;
    if (element.text.find('[') == std::string_view::npos) return;
    std::vector<std::string> paths;
    for (const QuotedSheet& sheet : QuotedSheets(element.text)) {
      std::optional<TopicPath> topic = ReadTopic(sheet.text);
      if (!topic || topic->after.empty()) continue;
      if (std::find(paths.begin(), paths.end(), topic->path) != paths.end()) continue;
      paths.push_back(topic->path);
      std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(topic->path), *context);
      if (!target) continue;
      FoundLink link = SlotLink({{element.ordinal, {}, std::string(element.text)}}, FormulaWriter(),
                                topic->path, context, std::move(*target));
      link.joinKey = kFormulaWorkbookKey;
      link.joinsAsCompanion = true;
      out.push_back(std::move(link));
    }
  });
}

}  // namespace quavelle::docserver
