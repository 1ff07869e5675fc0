#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A formula reads two other workbooks, each with its cached sheet; a named
// range reads the first.
const std::string kSheets =
    "<table:table table:name=\"Sheet1\"><table:table-row><table:table-cell "
    "table:formula=\"of:=['file:///C:/Data/plan.ods'#$Sheet1.A1]+"
    "['file:///C:/Data/costs.ods'#$Sheet1.B1]\"/></table:table-row></table:table>\n"
    "<table:table table:name=\"&apos;file:///C:/Data/plan.ods&apos;#Sheet1\"><table:table-source "
    "xlink:href=\"file:///C:/Data/plan.ods\" table:table-name=\"Sheet1\"/></table:table>\n"
    "<table:table table:name=\"&apos;file:///C:/Data/costs.ods&apos;#Sheet1\"><table:table-source "
    "xlink:href=\"file:///C:/Data/costs.ods\" table:table-name=\"Sheet1\"/></table:table>\n"
    "<table:named-expressions><table:named-range table:name=\"Input\" "
    "table:base-cell-address=\"$Sheet1.$A$1\" "
    "table:cell-range-address=\"'file:///C:/Data/plan.ods'#$Sheet1.$A$1:.$A$2\"/>"
    "</table:named-expressions>\n";

TEST(SpreadsheetReference, MovingAWorkbookMovesItsCachedSheetNameFormulasAndNamedRangesOnly) {
  TempFolder folder;
  const fs::path file = folder / "totals.ods";
  const std::string content = OdfContent(kSheets);
  WritePackage(file, OdtWith({{"content.xml", content}}));
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  SetPathAt(*document, 0, u"D:\\Data\\plan.ods");
  SetPathAt(*document, 0, u"E:\\Archive\\plan.ods");

  // The cached sheet's name is written again with plain apostrophes.
  const std::string expected = ReplaceAll(
      ReplaceAll(content, "&apos;file:///C:/Data/plan.ods&apos;", "'file:///E:/Archive/plan.ods'"),
      "file:///C:/Data/plan.ods", "file:///E:/Archive/plan.ods");
  EXPECT_EQ(ReadEntries(file, false).at(2).bytes, expected);
  EXPECT_EQ(LinkPaths(file),
            (std::vector<std::u16string>{u"E:\\Archive\\plan.ods", u"C:\\Data\\costs.ods"}));
}

}  // namespace
}  // namespace quavelle::docserver::testing
