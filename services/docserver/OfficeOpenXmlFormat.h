#pragma once

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

// Office Open XML: every external relationship of every .rels part, and the
// files that word-processing fields name, joined with the relationships that
// name the same file for the same object.
class OfficeOpenXmlFormat : public PackageFormat {
 public:
  bool IsLinkPart(std::string_view entryName) const override;
  bool IsSignaturePart(std::string_view entryName) const override;
  void FindLinks(const XmlPart& part, std::string_view entryName,
                 const std::u16string& documentPath, std::vector<FoundLink>& out) const override;
  bool MayHoldLinks(std::string_view entryName, std::string_view text) const override;
  void JoinCompanions(std::vector<FoundLink>& links,
                      std::vector<std::string>& entryNames) const override;
};

}  // namespace quavelle::docserver
