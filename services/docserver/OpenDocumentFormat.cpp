#include "services/docserver/OpenDocumentFormat.h"

#include <array>
#include <optional>

#include "services/Text.h"
#include "services/docserver/XmlPart.h"
#include "services/docserver/ZipArchive.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kXlinkNamespace = "http://www.w3.org/1999/xlink";
constexpr std::string_view kTableNamespace = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::array<std::string_view, 3> kLinkParts = {"content.xml", "styles.xml", "meta.xml"};

// "Object 1/content.xml" -> "Object 1"; "content.xml" -> "".
std::string_view FolderOf(std::string_view entryName) {
  std::size_t slash = entryName.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : entryName.substr(0, slash);
}

std::string_view FileNameOf(std::string_view entryName) {
  std::size_t slash = entryName.rfind('/');
  return slash == std::string_view::npos ? entryName : entryName.substr(slash + 1);
}

// How a formula or a cached sheet's name writes a workbook: "'URL'#", any
// quote inside the URL doubled.
std::string QuotedWorkbook(std::string_view url) {
  std::string out = "'";
  for (char c : url) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'#";
}

// Every occurrence of from in value replaced by to; empty when there is none.
std::string Replaced(std::string_view value, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t found = value.find(from); found != std::string_view::npos;
       found = value.find(from, at)) {
    out.append(value.substr(at, found - at));
    out.append(to);
    at = found + from.size();
  }
  if (at == 0) return {};
  out.append(value.substr(at));
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
      out.push_back({element.ordinal, std::string(attribute.qualifiedName),
                     std::string(attribute.value), context, std::move(*parsed)});
    }
  });
}

void OpenDocumentFormat::DependentChanges(const XmlPart& part, const FoundLink& link,
                                          std::string_view newStored,
                                          std::vector<AttributeChange>& out) const {
  const std::string from = QuotedWorkbook(link.storedValue);
  const std::string to = QuotedWorkbook(newStored);
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
          tables.back().name.starts_with(from)) {
        const Table& table = tables.back();
        cachedName = AttributeChange{table.ordinal, table.nameAttribute, table.name,
                                     to + table.name.substr(from.size())};
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
      std::string replaced = Replaced(attribute.value, from, to);
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
