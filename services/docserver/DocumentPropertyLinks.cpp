#include "services/docserver/DocumentPropertyLinks.h"

#include <optional>

#include "services/Text.h"
#include "services/docserver/ConnectionString.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kExtendedProperties =
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties";
constexpr std::string_view kExtendedPropertiesStrict =
    "http://purl.oclc.org/ooxml/officeDocument/extendedProperties";

bool IsExtended(std::string_view uri) {
  return uri == kExtendedProperties || uri == kExtendedPropertiesStrict;
}

std::uint32_t StringHash(std::u16string_view text) {
  text = text.substr(0, 255);
  std::uint32_t hash = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::uint32_t first = FoldCase(text[i]);
    const std::uint32_t second = i + 1 < text.size() ? FoldCase(text[i + 1]) : 0;
    hash ^= (second << 16) | first;
  }
  return hash;
}

// The slots of a cached hyperlink: its hash, its address and its location.
PlaceWriter CachedHyperlinkWriter() {
  return [](const std::vector<std::string>& current, std::string_view oldReference,
            std::string_view newReference) -> std::optional<std::vector<std::string>> {
    if (current.size() != 3 || current[1] != oldReference) return std::nullopt;
    const auto hash = static_cast<std::int32_t>(
        HyperlinkHash(FromUtf8(newReference), FromUtf8(std::string_view(current[2]))));
    return std::vector<std::string>{std::to_string(hash), std::string(newReference), current[2]};
  };
}

}  // namespace

std::uint32_t HyperlinkHash(std::u16string_view address, std::u16string_view location) {
  return StringHash(address) ^ StringHash(location);
}

bool IsExtendedPropertiesPart(std::string_view entryName) {
  return EqualsIgnoringAsciiCase(entryName, "docProps/app.xml");
}

void FindDocumentPropertyLinks(const XmlPart& part,
                               const std::shared_ptr<const TargetContext>& context,
                               std::vector<FoundLink>& out) {
  std::optional<std::size_t> hlinksDepth;
  std::vector<std::pair<std::size_t, std::string>> values;  // each variant's value element
  const auto flush = [&] {
    for (std::size_t k = 0; k + 5 < values.size(); k += 6) {
      const std::string& address = values[k + 4].second;
      std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(address), *context);
      if (!target) continue;
      FoundLink link = SlotLink({{values[k].first, {}, values[k].second},
                                 {values[k + 4].first, {}, values[k + 4].second},
                                 {values[k + 5].first, {}, values[k + 5].second}},
                                CachedHyperlinkWriter(), address, context, std::move(*target));
      link.joinKey = kHyperlinkKey;
      link.joinsAsCompanion = true;
      out.push_back(std::move(link));
    }
    values.clear();
  };
  part.ForEachElement([&](const XmlElement& element) {
    if (hlinksDepth && element.depth <= *hlinksDepth) {
      flush();
      hlinksDepth.reset();
    }
    if (hlinksDepth) {
      if (element.depth == *hlinksDepth + 3) values.emplace_back(element.ordinal, element.text);
      return;
    }
    if (!IsExtended(element.namespaceUri)) return;
    if (element.localName == "HLinks") {
      hlinksDepth = element.depth;
    } else if (element.localName == "HyperlinkBase" && !element.text.empty()) {
      std::optional<LinkTarget> target;
      if (NamesFileByFullPath(element.text)) {
        target = ParseLinkTarget(FromUtf8(element.text), *context);
      }
      if (!target) {
        FoundLink marker;
        marker.joinKey = kWebHyperlinkBaseKey;
        out.push_back(std::move(marker));
        return;
      }
      FoundLink link =
          AttributeLink(element.ordinal, "", element.text, context, std::move(*target));
      link.joinKey = kHyperlinkBaseKey;
      out.push_back(std::move(link));
    }
  });
  if (hlinksDepth) flush();
}

void RebaseHyperlinks(std::vector<FoundLink>& links, std::vector<std::string>& entryNames) {
  std::optional<std::u16string> base;
  bool webBase = false;
  for (const FoundLink& link : links) {
    if (link.joinKey == kHyperlinkBaseKey) base = link.target.absolutePath;
    webBase = webBase || link.joinKey == kWebHyperlinkBaseKey;
  }
  if (webBase) {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < links.size(); ++k) {
      const bool relativeHyperlink =
          links[k].joinKey == kHyperlinkKey && links[k].target.form == TargetForm::RelativePath;
      if (links[k].joinKey == kWebHyperlinkBaseKey || relativeHyperlink) continue;
      if (kept != k) {
        links[kept] = std::move(links[k]);
        entryNames[kept] = std::move(entryNames[k]);
      }
      ++kept;
    }
    links.resize(kept);
    entryNames.resize(kept);
    return;
  }
  if (!base) return;
  std::u16string folder = *base;
  while (folder.size() > 1 && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  for (FoundLink& link : links) {
    if (link.joinKey != kHyperlinkKey || link.target.form != TargetForm::RelativePath) continue;
    auto context = std::make_shared<const TargetContext>(
        TargetContext{link.context->syntax, folder, link.context->packagePath});
    std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(link.storedValue), *context);
    if (!target) continue;
    link.context = std::move(context);
    link.target = std::move(*target);
  }
}

}  // namespace quavelle::docserver
