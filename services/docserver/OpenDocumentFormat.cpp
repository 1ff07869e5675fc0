#include "services/docserver/OpenDocumentFormat.h"

#include <array>

#include "services/Text.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kXlinkNamespace = "http://www.w3.org/1999/xlink";
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

}  // namespace quavelle::docserver
