#include "services/docserver/OfficeOpenXmlFormat.h"

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
bool OfficeOpenXmlFormat::IsLinkPart(std::string_view entryName) const {
  return EndsWithIgnoringAsciiCase(entryName, ".rels");
}

bool OfficeOpenXmlFormat::IsSignaturePart(std::string_view entryName) const {
  constexpr std::string_view kSignatures = "_xmlsignatures/";
  return entryName.size() >= kSignatures.size() &&
         EqualsIgnoringAsciiCase(entryName.substr(0, kSignatures.size()), kSignatures);
}

void OfficeOpenXmlFormat::FindLinks(const XmlPart& part, std::string_view /*entryName*/,
                                    const std::u16string& documentPath,
                                    std::vector<FoundLink>& out) const {
  const auto context = std::make_shared<const TargetContext>(
      // Relative targets count from the folder that holds the package.
      TargetContext{TargetSyntax::OfficeOpenXml,
                    std::u16string(FolderOf(std::u16string_view(documentPath))), documentPath});
  part.ForEachElement([&](const XmlElement& element) {
    if (element.localName != "Relationship") return;
    const XmlAttribute* target = nullptr;
    bool external = false;
    for (const XmlAttribute& attribute : *element.attributes) {
      if (!attribute.namespaceUri.empty()) continue;
      // Producers write "External" in more than one case.
      if (attribute.localName == "TargetMode") {
        external = EqualsIgnoringAsciiCase(attribute.value, "External");
      }
      if (attribute.localName == "Target") target = &attribute;
    }
    if (!external || target == nullptr) return;
    std::optional<LinkTarget> parsed = ParseLinkTarget(FromUtf8(target->value), *context);
    if (!parsed) return;
    out.push_back({element.ordinal, std::string(target->qualifiedName), std::string(target->value),
                   context, std::move(*parsed)});
  });
}

}  // namespace quavelle::docserver
