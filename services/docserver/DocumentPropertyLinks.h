#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

bool IsExtendedPropertiesPart(std::string_view entryName);

// The join key of hyperlinks, whose relative targets count from the
// document's hyperlink base, and of the base itself.
inline constexpr std::string_view kHyperlinkKey = "hyperlink";
inline constexpr std::string_view kHyperlinkBaseKey = "hyperlink-base";
// Marks, until RebaseHyperlinks drops it, a hyperlink base that is a web address.
inline constexpr std::string_view kWebHyperlinkBaseKey = "web-hyperlink-base";

// Appends the links of the extended properties: the hyperlink base when it
// names a file location, and each cached hyperlink address (HLinks), which
// joins the hyperlink relationship of the same file and is written with its
// hash recomputed.
void FindDocumentPropertyLinks(const XmlPart& part,
                               const std::shared_ptr<const TargetContext>& context,
                               std::vector<FoundLink>& out);

// Relative hyperlinks count from the hyperlink base when there is one: from
// its folder when it names a file location; when it is anything else (a web
// address) they are web addresses and no links.
void RebaseHyperlinks(std::vector<FoundLink>& links, std::vector<std::string>& entryNames);

// The hash a cached hyperlink carries: of the address and the location in
// it, each lower-cased and cut to 255 UTF-16 units, their unit pairs folded
// by exclusive or.
std::uint32_t HyperlinkHash(std::u16string_view address, std::u16string_view location);

}  // namespace quavelle::docserver
