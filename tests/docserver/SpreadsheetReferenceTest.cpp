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

// The office suite keeps a table source's network-path reference as written
// and names the workbook in formulas and the cached sheet as a file URL.
const std::string kNetworkSource =
    "<table:table table:name=\"Sheet1\"><table:table-row><table:table-cell "
    "table:formula=\"of:=[&apos;file://server/share/dir%20x/a.ods&apos;#$Sheet1.A1]*2\" "
    "office:value-type=\"float\" office:value=\"2\"><text:p>2</text:p></table:table-cell>"
    "</table:table-row></table:table><table:table "
    "table:name=\"&apos;file://server/share/dir%20x/a.ods&apos;#Sheet1\" "
    "table:print=\"false\"><table:table-source xlink:type=\"simple\" "
    "xlink:href=\"//server/share/dir%20x/a.ods\" table:table-name=\"Sheet1\" "
    "table:filter-name=\"calc8\" table:mode=\"copy-results-only\"/></table:table>";

// A workbook that only a formula and a named range name, with no cached copy
// of its sheets, is one link of their own.
std::string FormulaOnly(const std::string& url) {
  return "<table:table table:name=\"Sheet1\"><table:table-row><table:table-cell "
         "table:formula=\"of:=['" +
         url + "'#$Sheet1.A1]+['" + url +
         "'#$Sheet1.A2]\"/></table:table-row></table:table><table:named-expressions>"
         "<table:named-range table:name=\"Input\" table:base-cell-address=\"$Sheet1.$A$1\" "
         "table:cell-range-address=\"'" +
         url + "'#$Sheet1.$A$1:.$A$2\"/></table:named-expressions>";
}

// A cell formula that names a workbook by its path, not through an
// external-link part; one in a string literal is text.
std::string Worksheet(const std::string& plan) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<worksheet "
         "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row "
         "r=\"1\"><c r=\"A1\"><f>'" +
         plan + "Sheet1'!A1*2+'" + plan +
         "Sheet2'!B1</f><v>4</v></c><c r=\"B1\"><f>[1]Sheet1!A1</f><v>1</v></c><c "
         "r=\"C1\"><f>SUM('\\\\srv1\\fin\\[costs.xlsx]Q1'!A1:A3)</f><v>3</v></c><c r=\"D1\" "
         "t=\"str\"><f>HYPERLINK(\"'C:\\x\\[y.xlsx]S'!A1\")</f><v>x</v></c></row></sheetData>"
         "</worksheet>";
}

INSTANTIATE_TEST_SUITE_P(
    SpreadsheetReference, RepointedPackage,
    ::testing::Values(
        PackageCase{
            "NetworkPathSource",
            "totals.ods",
            OdtWith({{"content.xml", OdfContent(kNetworkSource)}}),
            {u"\\\\server\\share\\dir x\\a.ods"},
            u"\\\\srv2\\proj\\dir y\\a.ods",
            {{"&apos;file://server/share/dir%20x/a.ods&apos;", "'file://srv2/proj/dir%20y/a.ods'"},
             {"//server/share/dir%20x/a.ods", "//srv2/proj/dir%20y/a.ods"}}},
        PackageCase{"FormulaOnlyWorkbook",
                    "totals.ods",
                    OdtWith({{"content.xml", OdfContent(FormulaOnly("file:///C:/Data/plan.ods"))}}),
                    {u"C:\\Data\\plan.ods"},
                    u"\\\\srv2\\data\\it's plan.ods",
                    {{"file:///C:/Data/plan.ods", "file://srv2/data/it''s%20plan.ods"}}},
        PackageCase{"WorksheetFormula",
                    "a.xlsx",
                    DocxWith({{"xl/worksheets/sheet1.xml", Worksheet("C:\\Data\\[plan.xlsx]")}}),
                    {u"C:\\Data\\plan.xlsx", u"\\\\srv1\\fin\\costs.xlsx"},
                    u"D:\\New's\\plan.xlsx",
                    {{Worksheet("C:\\Data\\[plan.xlsx]"), Worksheet("D:\\New''s\\[plan.xlsx]")}}}),
    CaseName);

}  // namespace
}  // namespace quavelle::docserver::testing
