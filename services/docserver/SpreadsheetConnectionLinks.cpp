#include "services/docserver/SpreadsheetConnectionLinks.h"

#include <string>

#include "services/Text.h"
#include "services/docserver/ConnectionString.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

bool IsSpreadsheetMl(std::string_view uri) {
  return uri == "http://schemas.openxmlformats.org/spreadsheetml/2006/main" ||
         uri == "http://purl.oclc.org/ooxml/spreadsheetml/main";
}

const XmlAttribute* Plain(const XmlElement& element, std::string_view localName) {
  for (const XmlAttribute& attribute : *element.attributes) {
    if (attribute.namespaceUri.empty() && attribute.localName == localName) return &attribute;
  }
  return nullptr;
}

}  // namespace

bool IsSpreadsheetConnectionsPart(std::string_view entryName) {
  return EqualsIgnoringAsciiCase(entryName, "xl/connections.xml");
}

void FindSpreadsheetConnectionLinks(const XmlPart& part,
                                    const std::shared_ptr<const TargetContext>& context,
                                    std::vector<FoundLink>& out) {
  std::string key;  // of the connection being read
  const auto attributeLink = [&](const XmlElement& element, const XmlAttribute& attribute,
                                 bool companion, bool joins) {
    std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(attribute.value), *context);
    if (!target) return;
    FoundLink link = AttributeLink(element.ordinal, attribute.qualifiedName, attribute.value,
                                   context, std::move(*target));
    if (joins) link.joinKey = key;
    link.joinsAsCompanion = companion;
    out.push_back(std::move(link));
  };
  part.ForEachElement([&](const XmlElement& element) {
    if (!IsSpreadsheetMl(element.namespaceUri)) return;
    if (element.localName == "connection") {
      key = "connection:" + std::to_string(element.ordinal);
      if (const XmlAttribute* source = Plain(element, "sourceFile")) {
        attributeLink(element, *source, false, true);
      }
      if (const XmlAttribute* odc = Plain(element, "odcFile")) {
        attributeLink(element, *odc, false, false);
      }
    } else if (element.localName == "dbPr") {
      if (const XmlAttribute* connection = Plain(element, "connection")) {
        FindConnectionLinks(connection->value,
                            {element.ordinal, std::string(connection->qualifiedName),
                             std::string(connection->value)},
                            context, key, out);
      }
    } else if (element.localName == "textPr") {
      if (const XmlAttribute* source = Plain(element, "sourceFile")) {
        attributeLink(element, *source, true, true);
      }
    } else if (element.localName == "webPr") {
      if (const XmlAttribute* url = Plain(element, "url")) attributeLink(element, *url, true, true);
    }
  });
}

}  // namespace quavelle::docserver
