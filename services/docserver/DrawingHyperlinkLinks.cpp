#include "services/docserver/DrawingHyperlinkLinks.h"

#include <optional>
#include <string>

#include "services/Text.h"
#include "services/docserver/DocumentPropertyLinks.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kDrawingNamespace =
    "http://schemas.microsoft.com/office/visio/2012/main";

const XmlAttribute* Plain(const XmlElement& element, std::string_view localName) {
  for (const XmlAttribute& attribute : *element.attributes) {
    if (attribute.namespaceUri.empty() && attribute.localName == localName) return &attribute;
  }
  return nullptr;
}

std::string Literal(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// The slots V and F of an Address cell whose formula is the literal of its value.
PlaceWriter ValueAndFormulaWriter() {
  return [](const std::vector<std::string>& current, std::string_view oldReference,
            std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 2 || current[0] != oldReference ||
        FormulaStringLiteral(current[1]) != std::optional<std::string>(oldReference)) {
      return std::nullopt;
    }
    return std::vector<std::string>{std::string(newReference), Literal(newReference)};
  };
}

}  // namespace

bool IsDrawingSheetPart(std::string_view entryName) {
  const auto in = [&](std::string_view folder, std::string_view stem) {
    return entryName.size() > folder.size() + stem.size() &&
           EqualsIgnoringAsciiCase(entryName.substr(0, folder.size() + stem.size()),
                                   std::string(folder) + std::string(stem)) &&
           entryName.find('/', folder.size()) == std::string_view::npos &&
           EndsWithIgnoringAsciiCase(entryName, ".xml");
  };
  return in("visio/pages/", "page") || in("visio/masters/", "master");
}

std::optional<std::string> FormulaStringLiteral(std::string_view formula) {
  if (formula.size() < 2 || formula.front() != '"' || formula.back() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i + 1 < formula.size(); ++i) {
    if (formula[i] == '"') {
      if (i + 2 >= formula.size() || formula[i + 1] != '"') return std::nullopt;
      ++i;
    }
    out += formula[i];
  }
  return out;
}

void FindDrawingHyperlinkLinks(const XmlPart& part,
                               const std::shared_ptr<const TargetContext>& context,
                               std::vector<FoundLink>& out) {
  std::optional<std::size_t> sectionDepth;  // of the Hyperlink section being read
  part.ForEachElement([&](const XmlElement& element) {
    if (sectionDepth && element.depth <= *sectionDepth) sectionDepth.reset();
    if (element.namespaceUri != kDrawingNamespace) return;
    const XmlAttribute* name = Plain(element, "N");
    if (name == nullptr) return;
    if (element.localName == "Section" && name->value == "Hyperlink") {
      sectionDepth = element.depth;
      return;
    }
    if (!sectionDepth || element.localName != "Cell" || name->value != "Address") return;
    const XmlAttribute* value = Plain(element, "V");
    const XmlAttribute* formula = Plain(element, "F");
    if (value == nullptr || value->value.empty()) return;
    std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(value->value), *context);
    if (!target) return;
    FoundLink link;
    if (formula == nullptr) {
      link = AttributeLink(element.ordinal, value->qualifiedName, value->value, context,
                           std::move(*target));
    } else if (FormulaStringLiteral(formula->value) == std::optional<std::string>(value->value)) {
      link = SlotLink(
          {{element.ordinal, std::string(value->qualifiedName), std::string(value->value)},
           {element.ordinal, std::string(formula->qualifiedName), std::string(formula->value)}},
          ValueAndFormulaWriter(), value->value, context, std::move(*target));
    } else {
      return;  // inherited or computed: not this cell's own text
    }
    link.joinKey = kHyperlinkKey;  // relative addresses count from the hyperlink base
    out.push_back(std::move(link));
  });
}

}  // namespace quavelle::docserver
