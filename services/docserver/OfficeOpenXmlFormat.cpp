#include "services/docserver/OfficeOpenXmlFormat.h"

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/DocumentPropertyLinks.h"
#include "services/docserver/DrawingHyperlinkLinks.h"
#include "services/docserver/FieldCodeLinks.h"
#include "services/docserver/MailMergeLinks.h"
#include "services/docserver/SpreadsheetConnectionLinks.h"
#include "services/docserver/SpreadsheetFormulaLinks.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

// "word/_rels/document.xml.rels" -> "word/document.xml"; "_rels/.rels" -> "".
std::string SourcePartOf(std::string_view relsName) {
  const std::size_t slash = relsName.rfind('/');
  const std::string_view name = relsName.substr(slash + 1);
  std::string_view folder = slash == std::string_view::npos ? "" : relsName.substr(0, slash);
  if (folder.ends_with("_rels")) folder.remove_suffix(5);
  std::string source(folder);
  source += name.substr(0, name.size() - std::min<std::size_t>(name.size(), 5));
  return source;
}

// The relationship types whose target is also written elsewhere in the
// source part, by the key under which those places join it.
std::string JoinKeyOf(std::string_view type, std::string_view relsName) {
  const std::size_t slash = type.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? type : type.substr(slash + 1);
  if (last == "oleObject") return "object:" + SourcePartOf(relsName);
  if (last == "hyperlink") return std::string(kHyperlinkKey);
  if (last == "mailMergeSource" || last == "mailMergeHeaderSource") {
    return "mailmerge:" + SourcePartOf(relsName);
  }
  return {};
}

}  // namespace

bool OfficeOpenXmlFormat::IsLinkPart(std::string_view entryName) const {
  return EndsWithIgnoringAsciiCase(entryName, ".rels") || IsStoryPart(entryName) ||
         IsWordSettingsPart(entryName) || IsSpreadsheetConnectionsPart(entryName) ||
         IsExtendedPropertiesPart(entryName) || IsDrawingSheetPart(entryName) ||
         IsWorksheetPart(entryName);
}

// Large parts are parsed only when their text has the mark of what is looked
// for in them: a field instruction or a picture's source in a story, a mail
// merge in the settings, an Address cell in a drawing's sheet, and in a
// worksheet a separator before a bracketed file name ("C:\\Data\\[plan.xlsx]").
bool OfficeOpenXmlFormat::MayHoldLinks(std::string_view entryName, std::string_view text) const {
  const auto has = [&](std::string_view mark) { return text.find(mark) != std::string_view::npos; };
  if (IsStoryPart(entryName)) return has("nstr") || has("href");  // instr, delInstrText
  if (IsWordSettingsPart(entryName)) return has("mailMerge");
  if (IsDrawingSheetPart(entryName)) return has("Address");
  if (IsWorksheetPart(entryName)) return has("\\[") || has("/[");
  return true;
}

void OfficeOpenXmlFormat::JoinCompanions(std::vector<FoundLink>& links,
                                         std::vector<std::string>& entryNames) const {
  RebaseHyperlinks(links, entryNames);
  JoinLinksByKey(links, entryNames);
}

bool OfficeOpenXmlFormat::IsSignaturePart(std::string_view entryName) const {
  constexpr std::string_view kSignatures = "_xmlsignatures/";
  return entryName.size() >= kSignatures.size() &&
         EqualsIgnoringAsciiCase(entryName.substr(0, kSignatures.size()), kSignatures);
}

void OfficeOpenXmlFormat::FindLinks(const XmlPart& part, std::string_view entryName,
                                    const std::u16string& documentPath,
                                    std::vector<FoundLink>& out) const {
  const auto context = std::make_shared<const TargetContext>(
      // Relative targets count from the folder that holds the package.
      TargetContext{TargetSyntax::OfficeOpenXml,
                    std::u16string(FolderOf(std::u16string_view(documentPath))), documentPath});
  if (!EndsWithIgnoringAsciiCase(entryName, ".rels")) {
    if (IsStoryPart(entryName)) FindFieldCodeLinks(part, entryName, context, out);
    if (IsWordSettingsPart(entryName)) FindMailMergeLinks(part, entryName, context, out);
    if (IsExtendedPropertiesPart(entryName)) FindDocumentPropertyLinks(part, context, out);
    if (IsDrawingSheetPart(entryName)) FindDrawingHyperlinkLinks(part, context, out);
    if (IsWorksheetPart(entryName)) FindSpreadsheetFormulaLinks(part, context, out);
    if (IsSpreadsheetConnectionsPart(entryName)) {
      FindSpreadsheetConnectionLinks(part, context, out);
    }
    return;
  }
  part.ForEachElement([&](const XmlElement& element) {
    if (element.localName != "Relationship") return;
    const XmlAttribute* target = nullptr;
    const XmlAttribute* type = nullptr;
    bool external = false;
    for (const XmlAttribute& attribute : *element.attributes) {
      if (!attribute.namespaceUri.empty()) continue;
      // Producers write "External" in more than one case.
      if (attribute.localName == "TargetMode") {
        external = EqualsIgnoringAsciiCase(attribute.value, "External");
      }
      if (attribute.localName == "Target") target = &attribute;
      if (attribute.localName == "Type") type = &attribute;
    }
    if (!external || target == nullptr) return;
    std::optional<LinkTarget> parsed = ParseLinkTarget(FromUtf8(target->value), *context);
    if (!parsed) return;
    FoundLink link = AttributeLink(element.ordinal, target->qualifiedName, target->value, context,
                                   std::move(*parsed));
    if (type != nullptr) link.joinKey = JoinKeyOf(type->value, entryName);
    // A mail merge's data and header sources are one file in several places;
    // two objects linked to one file stay two links.
    link.joinsAsCompanion = link.joinKey.starts_with("mailmerge:");
    out.push_back(std::move(link));
  });
}

}  // namespace quavelle::docserver
