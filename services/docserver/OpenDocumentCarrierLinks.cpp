#include "services/docserver/OpenDocumentCarrierLinks.h"
#include "services/docserver/FormulaQuotedName.h"

#include <algorithm>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/ConnectionString.h"
#include "services/docserver/FieldCodeLinks.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kOfficeNamespace = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTableNamespace = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kFieldNamespace =
    "urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0";

std::string DoubledQuotes(std::string_view text, char quote) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  return out;
}

// Every occurrence of from in value replaced by to; nullopt when there is none.
std::optional<std::string> ReplacedAll(std::string_view value, std::string_view from,
                                       std::string_view to) {
  std::string out;
  std::size_t at = 0;
  bool any = false;
  for (std::size_t found = value.find(from); found != std::string_view::npos;
       found = value.find(from, at)) {
    out.append(value.substr(at, found - at));
    out.append(to);
    at = found + from.size();
    any = true;
  }
  if (!any) return std::nullopt;
  out.append(value.substr(at));
  return out;
}

// A formula's string literals as written, each with its quotes: "\"a\"\"b\"".
PlaceWriter LiteralWriter(char quote, std::string_view tail) {
  return [quote, tail = std::string(tail)](
             const std::vector<std::string>& current, std::string_view oldReference,
             std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 1) return std::nullopt;
    const auto literal = [&](std::string_view text) {
      return std::string(1, quote) + DoubledQuotes(text, quote) + std::string(1, quote) + tail;
    };
    std::optional<std::string> replaced =
        ReplacedAll(current[0], literal(oldReference), literal(newReference));
    if (!replaced) return std::nullopt;
    return std::vector<std::string>{std::move(*replaced)};
  };
}

PlaceWriter TopicWriter() {
  return [](const std::vector<std::string>& current, std::string_view oldReference,
            std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 1) return std::nullopt;
    std::optional<TopicPath> topic = ReadTopic(current[0]);
    if (!topic || topic->path != oldReference) return std::nullopt;
    // The bracket form needs a folder and a file name.
    if (!topic->after.empty() &&
        std::string_view(newReference).find_last_of("\\/") == std::string_view::npos) {
      return std::nullopt;
    }
    return std::vector<std::string>{WriteTopic(*topic, newReference)};
  };
}

// The DDE topics a formula names: DDE("app";"topic";"item").
std::vector<std::string> DdeTopicsIn(std::string_view formula) {
  std::vector<std::string> topics;
  for (std::size_t at = formula.find("DDE("); at != std::string_view::npos;
       at = formula.find("DDE(", at + 4)) {
    std::size_t p = at + 4;
    std::vector<std::string> arguments;
    while (p < formula.size() && arguments.size() < 2 && formula[p] == '"') {
      std::string text;
      for (++p; p < formula.size(); ++p) {
        if (formula[p] == '"') {
          if (p + 1 < formula.size() && formula[p + 1] == '"') {
            text += '"';
            ++p;
            continue;
          }
          break;
        }
        text += formula[p];
      }
      arguments.push_back(std::move(text));
      ++p;
      if (p < formula.size() && formula[p] == ';') ++p;
    }
    if (arguments.size() == 2) topics.push_back(std::move(arguments[1]));
  }
  return topics;
}

// Formulas, and the expressions and ranges of named ranges, name cells of
// other workbooks.
bool NamesCells(const XmlElement& element, const XmlAttribute& attribute) {
  if (attribute.namespaceUri != kTableNamespace) return false;
  if (attribute.localName == "formula") return true;
  if (element.namespaceUri != kTableNamespace ||
      (element.localName != "named-range" && element.localName != "named-expression")) {
    return false;
  }
  return attribute.localName == "expression" || attribute.localName == "cell-range-address" ||
         attribute.localName == "base-cell-address";
}

std::u16string Folded(std::u16string text) {
  for (char16_t& c : text) c = FoldCase(c);
  return text;
}

}  // namespace

std::optional<TopicPath> ReadTopic(std::string_view topic) {
  TopicPath out;
  const std::size_t open = topic.find('[');
  const std::size_t close = open == std::string_view::npos ? open : topic.find(']', open);
  if (close != std::string_view::npos) {
    out.before = topic.substr(0, open);
    out.after = topic.substr(close);
    out.path = out.before + std::string(topic.substr(open + 1, close - open - 1));
  } else {
    out.path = topic;
  }
  if (!NamesFileByFullPath(out.path)) return std::nullopt;
  return out;
}

std::string WriteTopic(const TopicPath& found, std::string_view newPath) {
  if (found.after.empty()) return std::string(newPath);
  const std::size_t slash = newPath.find_last_of("\\/");
  const std::size_t split = slash == std::string_view::npos ? 0 : slash + 1;
  return std::string(newPath.substr(0, split)) + "[" + std::string(newPath.substr(split)) +
         found.after;
}

void FindDdeLinks(const XmlPart& part, const std::shared_ptr<const TargetContext>& context,
                  std::vector<FoundLink>& out) {
  part.ForEachElement([&](const XmlElement& element) {
    for (const XmlAttribute& attribute : *element.attributes) {
      const ValueSlot slot{element.ordinal, std::string(attribute.qualifiedName),
                           std::string(attribute.value)};
      if (attribute.localName == "dde-topic" && attribute.namespaceUri == kOfficeNamespace) {
        std::optional<TopicPath> topic = ReadTopic(attribute.value);
        if (!topic) continue;
        std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(topic->path), *context);
        if (!target) continue;
        FoundLink link = SlotLink({slot}, TopicWriter(), topic->path, context, std::move(*target));
        link.joinKey = "dde";
        out.push_back(std::move(link));
      } else if (attribute.localName == "formula" && attribute.namespaceUri == kTableNamespace) {
        std::vector<std::string> topics = DdeTopicsIn(attribute.value);
        std::ranges::sort(topics);
        topics.erase(std::unique(topics.begin(), topics.end()), topics.end());
        for (const std::string& text : topics) {
          std::optional<TopicPath> topic = ReadTopic(text);
          // A formula's topic is moved as a whole literal: the plain form only.
          if (!topic || !topic->after.empty()) continue;
          std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(topic->path), *context);
          if (!target) continue;
          FoundLink link =
              SlotLink({slot}, LiteralWriter('"', ""), topic->path, context, std::move(*target));
          link.joinKey = "dde";
          link.joinsAsCompanion = true;
          out.push_back(std::move(link));
        }
      }
    }
  });
}

void FindFormulaWorkbookLinks(const XmlPart& part,
                              const std::shared_ptr<const TargetContext>& context,
                              std::vector<FoundLink>& out) {
  part.ForEachElement([&](const XmlElement& element) {
    for (const XmlAttribute& attribute : *element.attributes) {
      if (!NamesCells(element, attribute)) continue;
      std::vector<std::string> urls;
      const std::string_view value = attribute.value;
      for (std::size_t open = value.find('\''); open != std::string_view::npos;) {
        FormulaQuotedName name = ReadFormulaQuotedName(value, open);
        open = NextFormulaQuote(value, name);
        if (name.namesWorkbook) urls.push_back(std::move(name.text));
      }
      std::ranges::sort(urls);
      urls.erase(std::unique(urls.begin(), urls.end()), urls.end());
      for (const std::string& url : urls) {
        std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(url), *context);
        if (!target || !target->suffix.empty()) continue;
        FoundLink link = SlotLink(
            {{element.ordinal, std::string(attribute.qualifiedName), std::string(attribute.value)}},
            LiteralWriter('\'', "#"), url, context, std::move(*target));
        link.joinKey = kFormulaWorkbookKey;
        link.joinsAsCompanion = true;
        out.push_back(std::move(link));
      }
    }
  });
}

void FindFieldMarkLinks(const XmlPart& part, std::string_view entryName,
                        const std::shared_ptr<const TargetContext>& fieldContext,
                        std::vector<FoundLink>& out) {
  part.ForEachElement([&](const XmlElement& element) {
    if (element.localName != "param" || element.namespaceUri != kFieldNamespace) return;
    const XmlAttribute* name = nullptr;
    const XmlAttribute* value = nullptr;
    for (const XmlAttribute& attribute : *element.attributes) {
      if (attribute.namespaceUri != kFieldNamespace) continue;
      if (attribute.localName == "name") name = &attribute;
      if (attribute.localName == "value") value = &attribute;
    }
    if (name == nullptr || value == nullptr || name->value != "vnd.oasis.opendocument.field.code") {
      return;
    }
    FindInstructionLinks(
        {element.ordinal, std::string(value->qualifiedName), std::string(value->value)},
        value->value, entryName, fieldContext, out);
  });
}

void JoinOpenDocumentLinks(std::vector<FoundLink>& links, std::vector<std::string>& entryNames) {
  std::vector<std::u16string> sources;
  for (const FoundLink& link : links) {
    if (link.joinKey == kWorkbookSourceKey) sources.push_back(Folded(link.target.absolutePath));
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < links.size(); ++k) {
    if (links[k].joinKey == kFormulaWorkbookKey &&
        std::ranges::find(sources, Folded(links[k].target.absolutePath)) != sources.end()) {
      continue;
    }
    if (kept != k) {
      links[kept] = std::move(links[k]);
      entryNames[kept] = std::move(entryNames[k]);
    }
    ++kept;
  }
  links.resize(kept);
  entryNames.resize(kept);
  JoinLinksByKey(links, entryNames);
}

}  // namespace quavelle::docserver
