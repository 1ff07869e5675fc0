#include "services/docserver/OpenDocumentFormat.h"

#include <array>
#include <optional>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/FormulaQuotedName.h"
#include "services/docserver/OpenDocumentCarrierLinks.h"
#include "services/docserver/XmlPart.h"
#include "services/docserver/ZipArchive.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kXlinkNamespace = "http://www.w3.org/1999/xlink";
constexpr std::string_view kTableNamespace = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::array<std::string_view, 3> kLinkParts = {"content.xml", "styles.xml", "meta.xml"};

// Formulas and a cached sheet's name write a workbook as "'URL'#", any quote
// inside the URL doubled, and always as an absolute URL, whatever form the
// table source's own reference has ("//srv/share/a.ods" there is
// "'file://srv/share/a.ods'#" here). Gives value with every such workbook that
// names oldPath written for newPath in its own style; empty when none does.
std::string WithWorkbookMoved(std::string_view value, const std::u16string& oldPath,
                              const std::u16string& newPath, const TargetContext& context) {
  std::string out;
  bool moved = false;
  std::size_t copied = 0;
  for (std::size_t open = value.find('\''); open != std::string_view::npos;) {
    const FormulaQuotedName name = ReadFormulaQuotedName(value, open);
    const std::size_t next = NextFormulaQuote(value, name);
    if (!name.namesWorkbook) {
      open = next;
      continue;
    }
    const std::optional<LinkTarget> workbook = ParseLinkTarget(FromUtf8(name.text), context);
    if (workbook && workbook->suffix.empty() && workbook->absolutePath == oldPath) {
      const std::string written = ToUtf8(FormatLinkTarget(*workbook, newPath, context));
      out.append(value.substr(copied, open - copied));
      out += '\'';
      for (char c : written) {
        out += c;
        if (c == '\'') out += '\'';
      }
      out += '\'';
      copied = name.close + 1;
      moved = true;
    }
    open = next;
  }
  if (!moved) return {};
  out.append(value.substr(copied));
  return out;
}

bool IsTableElement(const XmlElement& element, std::string_view localName) {
  return element.localName == localName && element.namespaceUri == kTableNamespace;
}

// The attributes of element that may hold a reference into another workbook.
bool HoldsReferences(const XmlElement& element, const XmlAttribute& attribute) {
  if (attribute.namespaceUri != kTableNamespace) return false;
  if (attribute.localName == "formula") return true;
  if (!IsTableElement(element, "named-range") && !IsTableElement(element, "named-expression")) {
    return false;
  }
  return attribute.localName == "expression" || attribute.localName == "cell-range-address" ||
         attribute.localName == "base-cell-address";
}

}  // namespace

bool OpenDocumentFormat::IsLinkPart(std::string_view entryName) const {
  std::string_view name = FileNameOf(entryName);
  for (std::string_view part : kLinkParts) {
    if (name == part) return true;
  }
  return false;
}

bool OpenDocumentFormat::IsSignaturePart(std::string_view entryName) const {
  return EqualsIgnoringAsciiCase(entryName, "META-INF/documentsignatures.xml") ||
         EqualsIgnoringAsciiCase(entryName, "META-INF/macrosignatures.xml");
}

// A package encrypted whole keeps everything in this one entry.
bool OpenDocumentFormat::IsEncryptionPart(std::string_view entryName) const {
  return entryName == "encrypted-package";
}

// The manifest describes how each encrypted entry was encrypted; it is
// itself never encrypted.
bool OpenDocumentFormat::DeclaresEncryption(const ZipArchive& zip, std::uint64_t limit) const {
  for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
    if (zip.EntryName(i) != "META-INF/manifest.xml") continue;
    return zip.ReadEntry(i, limit).find("encryption-data") != std::string::npos;
  }
  return false;
}

void OpenDocumentFormat::FindLinks(const XmlPart& part, std::string_view entryName,
                                   const std::u16string& documentPath,
                                   std::vector<FoundLink>& out) const {
  // Relative references count from the package as if it were a folder, and
  // from a sub-document's folder inside it.
  std::u16string base = documentPath;
  std::string_view folder = FolderOf(entryName);
  if (!folder.empty()) base += u"/" + FromUtf8(folder);
  const auto context = std::make_shared<const TargetContext>(
      TargetContext{TargetSyntax::OpenDocument, base, documentPath});
  part.ForEachElement([&](const XmlElement& element) {
    for (const XmlAttribute& attribute : *element.attributes) {
      if (attribute.localName != "href" || attribute.namespaceUri != kXlinkNamespace) continue;
      std::optional<LinkTarget> parsed = ParseLinkTarget(FromUtf8(attribute.value), *context);
      if (!parsed) continue;
      FoundLink link = AttributeLink(element.ordinal, attribute.qualifiedName, attribute.value,
                                     context, std::move(*parsed));
      if (IsTableElement(element, "table-source") || IsTableElement(element, "cell-range-source")) {
        link.joinKey = kWorkbookSourceKey;
      }
      out.push_back(std::move(link));
    }
  });
  if (FileNameOf(entryName) == "content.xml") {
    FindDdeLinks(part, context, out);
    FindFieldMarkLinks(
        part, entryName,
        std::make_shared<const TargetContext>(TargetContext{
            TargetSyntax::OfficeOpenXml,
            std::u16string(FolderOf(std::u16string_view(documentPath))), documentPath}),
        out);
    FindFormulaWorkbookLinks(part, context, out);
  }
}

void OpenDocumentFormat::JoinCompanions(std::vector<FoundLink>& links,
                                        std::vector<std::string>& entryNames) const {
  JoinOpenDocumentLinks(links, entryNames);
}

void OpenDocumentFormat::DependentChanges(const XmlPart& part, const FoundLink& link,
                                          std::string_view newStored,
                                          std::vector<AttributeChange>& out) const {
  const std::optional<LinkTarget> moved = ParseLinkTarget(FromUtf8(newStored), *link.context);
  if (!moved) return;
  const auto movedName = [&](std::string_view value) {
    return WithWorkbookMoved(value, link.target.absolutePath, moved->absolutePath, *link.context);
  };
  struct Table {
    std::size_t depth;
    std::size_t ordinal;
    std::string nameAttribute;  // qualified; empty when the table has no name
    std::string name;
  };
  std::vector<Table> tables;  // the table:table elements around the current one
  std::optional<AttributeChange> cachedName;
  bool isSource = false;
  std::vector<AttributeChange> references;
  part.ForEachElement([&](const XmlElement& element) {
    while (!tables.empty() && tables.back().depth >= element.depth) tables.pop_back();
    if (element.ordinal == link.elementOrdinal) {
      isSource =
          IsTableElement(element, "table-source") || IsTableElement(element, "cell-range-source");
      if (isSource && !tables.empty() && !tables.back().nameAttribute.empty() &&
          tables.back().name.starts_with('\'')) {
        const Table& table = tables.back();
        std::string renamed = movedName(table.name);
        if (!renamed.empty()) {
          cachedName =
              AttributeChange{table.ordinal, table.nameAttribute, table.name, std::move(renamed)};
        }
      }
    }
    if (IsTableElement(element, "table"))
      tables.push_back({element.depth, element.ordinal, {}, {}});
    for (const XmlAttribute& attribute : *element.attributes) {
      if (IsTableElement(element, "table") && attribute.localName == "name" &&
          attribute.namespaceUri == kTableNamespace) {
        tables.back().nameAttribute = attribute.qualifiedName;
        tables.back().name = attribute.value;
      }
      if (!HoldsReferences(element, attribute)) continue;
      std::string replaced = movedName(attribute.value);
      if (replaced.empty()) continue;
      references.push_back({element.ordinal, std::string(attribute.qualifiedName),
                            std::string(attribute.value), std::move(replaced)});
    }
  });
  if (!isSource) return;
  if (cachedName) out.push_back(std::move(*cachedName));
  for (AttributeChange& change : references) out.push_back(std::move(change));
}

}  // namespace quavelle::docserver
