#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

// Join keys: a table source's workbook, and a workbook that only formulas name.
inline constexpr std::string_view kWorkbookSourceKey = "workbook-source";
inline constexpr std::string_view kFormulaWorkbookKey = "formula-workbook";

// Appends the files of DDE links (text:dde-connection-decl,
// office:dde-source): the topic is an OS path, or a folder with the file name
// in brackets and an item after it ("C:\Data\[plan.xlsx]Sheet1"). Formulas
// that call DDE with the same topic join the link.
void FindDdeLinks(const XmlPart& part, const std::shared_ptr<const TargetContext>& context,
                  std::vector<FoundLink>& out);

// Appends a link for each workbook a formula names by URL ("['file:///C:/a.ods'#$Sheet1.A1]"),
// one place per attribute; they join when they name one file.
void FindFormulaWorkbookLinks(const XmlPart& part,
                              const std::shared_ptr<const TargetContext>& context,
                              std::vector<FoundLink>& out);

// Appends the files named by word-processing field instructions that a
// converted document keeps in its field marks (field:param named
// "vnd.oasis.opendocument.field.code"). Their paths are OS paths relative to
// the document's folder, as in the package they came from: fieldContext says so.
void FindFieldMarkLinks(const XmlPart& part, std::string_view entryName,
                        const std::shared_ptr<const TargetContext>& fieldContext,
                        std::vector<FoundLink>& out);

// Drops the formula links of workbooks that a table source names too (its
// formulas move with it), then joins the rest.
void JoinOpenDocumentLinks(std::vector<FoundLink>& links, std::vector<std::string>& entryNames);

// A DDE topic's file: the path and where it sits in the topic.
struct TopicPath {
  std::string path;
  std::string before;  // folder, written before the bracket; empty for a plain path
  std::string after;   // "]Sheet1" after the name; empty for a plain path
};
std::optional<TopicPath> ReadTopic(std::string_view topic);
std::string WriteTopic(const TopicPath& found, std::string_view newPath);

}  // namespace quavelle::docserver
