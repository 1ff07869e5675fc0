#pragma once

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

// OpenDocument: every xlink:href of the content, styles and meta parts of the
// document and of its embedded sub-documents that names a file outside it.
// A spreadsheet names the workbook of a table or cell-range source again in
// formulas, named ranges and the cached sheet's name; those move with it.
// DDE topics, and workbooks that only formulas name, are links too.
class OpenDocumentFormat : public PackageFormat {
 public:
  bool IsLinkPart(std::string_view entryName) const override;
  bool IsSignaturePart(std::string_view entryName) const override;
  bool IsEncryptionPart(std::string_view entryName) const override;
  bool DeclaresEncryption(const ZipArchive& zip, std::uint64_t limit) const override;
  void FindLinks(const XmlPart& part, std::string_view entryName,
                 const std::u16string& documentPath, std::vector<FoundLink>& out) const override;
  void JoinCompanions(std::vector<FoundLink>& links,
                      std::vector<std::string>& entryNames) const override;
  void DependentChanges(const XmlPart& part, const FoundLink& link, std::string_view newStored,
                        std::vector<AttributeChange>& out) const override;
};

}  // namespace quavelle::docserver
