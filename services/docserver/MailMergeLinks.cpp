#include "services/docserver/MailMergeLinks.h"

#include <string>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/ConnectionString.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

bool IsWord(std::string_view uri) {
  return uri == "http://schemas.openxmlformats.org/wordprocessingml/2006/main" ||
         uri == "http://purl.oclc.org/ooxml/wordprocessingml/main";
}

const XmlAttribute* WordAttribute(const XmlElement& element, std::string_view localName) {
  for (const XmlAttribute& attribute : *element.attributes) {
    if (attribute.localName == localName && IsWord(attribute.namespaceUri)) return &attribute;
  }
  return nullptr;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Closer(char open) {
  switch (open) {
    case '[':
      return ']';
    case '`':
    case '"':
    case '\'':
      return open;
    default:
      return 0;
  }
}

// Writes a file into the query that a place's one slot holds, at the path
// numbered index.
PlaceWriter QueryWriter(std::size_t index) {
  return [index](const std::vector<std::string>& current, std::string_view oldReference,
                 std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 1) return std::nullopt;
    const auto paths = PathsInQuery(current[0]);
    if (index >= paths.size()) return std::nullopt;
    const auto [begin, end] = paths[index];
    if (current[0].compare(begin, end - begin, oldReference) != 0) return std::nullopt;
    // A path that is not closed by a quote ends at white space, so a new one
    // with white space in it would not read back.
    const bool enclosed = begin > 0 && Closer(current[0][begin - 1]) != 0;
    if (!enclosed) {
      for (char c : newReference) {
        if (IsBlank(c)) return std::nullopt;
      }
    } else if (newReference.find(Closer(current[0][begin - 1])) != std::string_view::npos) {
      return std::nullopt;
    }
    std::string text = current[0];
    text.replace(begin, end - begin, newReference);
    return std::vector<std::string>{std::move(text)};
  };
}

}  // namespace

bool IsWordSettingsPart(std::string_view entryName) {
  return EqualsIgnoringAsciiCase(entryName, "word/settings.xml");
}

std::vector<std::pair<std::size_t, std::size_t>> PathsInQuery(std::string_view query) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (std::size_t i = 0; i < query.size(); ++i) {
    const bool startsWord = i == 0 || IsBlank(query[i - 1]) || Closer(query[i - 1]) != 0;
    if (!startsWord) continue;
    const std::size_t drive = DriveNameLength(FromUtf8(query.substr(i, 300)));
    if (drive == 0) continue;
    const char closer = i > 0 ? Closer(query[i - 1]) : 0;
    std::size_t end = i;
    while (end < query.size() && (closer != 0 ? query[end] != closer : !IsBlank(query[end]))) {
      ++end;
    }
    if (closer != 0 && end >= query.size()) break;  // never closed: nothing is certain
    out.emplace_back(i, end);
    i = end;
  }
  return out;
}

void FindMailMergeLinks(const XmlPart& part, std::string_view entryName,
                        const std::shared_ptr<const TargetContext>& context,
                        std::vector<FoundLink>& out) {
  const std::string key = "mailmerge:" + std::string(entryName);
  bool inMailMerge = false;
  std::size_t mailMergeDepth = 0;
  part.ForEachElement([&](const XmlElement& element) {
    if (inMailMerge && element.depth <= mailMergeDepth) inMailMerge = false;
    if (!IsWord(element.namespaceUri)) return;
    if (element.localName == "mailMerge") {
      inMailMerge = true;
      mailMergeDepth = element.depth;
      return;
    }
    if (!inMailMerge) return;
    const XmlAttribute* value = WordAttribute(element, "val");
    if (value == nullptr) return;
    const ValueSlot slot{element.ordinal, std::string(value->qualifiedName),
                         std::string(value->value)};
    if (element.localName == "connectString" || element.localName == "udl") {
      FindConnectionLinks(value->value, slot, context, key, out);
    } else if (element.localName == "query") {
      const auto paths = PathsInQuery(value->value);
      for (std::size_t k = 0; k < paths.size(); ++k) {
        const std::string_view path =
            value->value.substr(paths[k].first, paths[k].second - paths[k].first);
        std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(path), *context);
        if (!target) continue;
        FoundLink link = SlotLink({slot}, QueryWriter(k), path, context, std::move(*target));
        link.joinKey = key;
        link.joinsAsCompanion = true;
        out.push_back(std::move(link));
      }
    }
  });
}

}  // namespace quavelle::docserver
