#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

std::string SheetContent(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<office:document-content "
         "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
         "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
         "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
         "xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.3\">\n"
         "<office:body><office:spreadsheet>\n" +
         body + "</office:spreadsheet></office:body></office:document-content>\n";
}

// A workbook whose formulas read two other workbooks, each with its cached
// sheet, and a named range and expression into the first.
const std::string kPlan = "file:///C:/Data/plan.ods";
const std::string kCosts = "file:///C:/Data/costs.ods";
const std::string kSheetBody =
    "<table:table table:name=\"Sheet1\">\n"
    " <table:table-row>\n"
    "  <table:table-cell table:formula=\"of:=['file:///C:/Data/plan.ods'#$Sheet1.A1]+"
    "['file:///C:/Data/plan.ods'#$Sheet1.A2]*['file:///C:/Data/costs.ods'#$Sheet1.B1]\" "
    "office:value-type=\"float\" office:value=\"3\"><text:p>3</text:p></table:table-cell>\n"
    "  <table:table-cell table:formula='of:=IF([.A1]&lt;2;[&apos;file:///C:/Data/plan.ods&apos;"
    "#$Sheet1.B2];0)'/>\n"
    "  <table:table-cell office:value-type=\"string\"><text:p><text:a xlink:type=\"simple\" "
    "xlink:href=\"file:///C:/Data/plan.ods\">plan</text:a></text:p></table:table-cell>\n"
    " </table:table-row>\n"
    "</table:table>\n"
    "<table:table table:name=\"&apos;file:///C:/Data/plan.ods&apos;#Sheet1\" "
    "table:print=\"false\"><table:table-source xlink:type=\"simple\" "
    "xlink:href=\"file:///C:/Data/plan.ods\" table:table-name=\"Sheet1\" "
    "table:mode=\"copy-results-only\"/><table:table-row><table:table-cell "
    "office:value-type=\"float\" office:value=\"1\"/></table:table-row></table:table>\n"
    "<table:table table:name=\"&apos;file:///C:/Data/costs.ods&apos;#Sheet1\" "
    "table:print=\"false\"><table:table-source xlink:type=\"simple\" "
    "xlink:href=\"file:///C:/Data/costs.ods\" table:table-name=\"Sheet1\" "
    "table:mode=\"copy-results-only\"/></table:table>\n"
    "<table:named-expressions>\n"
    " <table:named-range table:name=\"Input\" table:base-cell-address=\"$Sheet1.$A$1\" "
    "table:cell-range-address=\"'file:///C:/Data/plan.ods'#$Sheet1.$A$1:.$A$2\"/>\n"
    " <table:named-expression table:name=\"Twice\" table:base-cell-address=\"$Sheet1.$A$1\" "
    "table:expression=\"of:=['file:///C:/Data/plan.ods'#$Sheet1.A1]*2\"/>\n"
    " <table:named-expression table:name=\"Cost\" table:base-cell-address=\"$Sheet1.$A$1\" "
    "table:expression=\"of:=['file:///C:/Data/costs.ods'#$Sheet1.B1]\"/>\n"
    "</table:named-expressions>\n";

// Links in document order: the hyperlink, then the two cached sheets' sources.
constexpr std::size_t kHyperlink = 0;
constexpr std::size_t kPlanSource = 1;
constexpr std::size_t kCostsSource = 2;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

struct Workbook {
  TempFolder folder;
  fs::path file = folder / "totals.ods";
  std::string content = SheetContent(kSheetBody);

  explicit Workbook(const std::string& body = kSheetBody) : content(SheetContent(body)) {
    WritePackage(file, OdtWith({{"content.xml", content}}));
  }
  std::string Content() const { return ReadEntry(file, "content.xml"); }
};

// The part as it must read after a workbook moved from oldUrl to newUrl: the
// cached sheet's name, in double quotes, is written again with plain
// apostrophes; a formula in single quotes keeps its entities.
std::string Moved(const std::string& content, const std::string& oldUrl,
                  const std::string& newUrl) {
  std::string out =
      ReplaceAll(content, "&apos;" + oldUrl + "&apos;#Sheet1", "'" + newUrl + "'#Sheet1");
  return ReplaceAll(out, oldUrl, newUrl);
}

TEST(SpreadsheetReference, MovingAWorkbookMovesItsCachedSheetNameFormulasAndNamedRangesOnly) {
  Workbook book;
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(book.file.string()));
  ASSERT_EQ(LinkPaths(*document),
            (std::vector<std::u16string>{u"C:\\Data\\plan.ods", u"C:\\Data\\plan.ods",
                                         u"C:\\Data\\costs.ods"}));
  std::unique_ptr<LinkedDocument> plan = LinkAt(*document, kPlanSource);
  plan->SetPath(u"D:\\Data\\plan.ods");
  LinkAt(*document, kCostsSource)->SetPath(u"\\\\srv2\\proj\\costs.ods");
  plan->SetPath(u"E:\\Archive\\plan.ods");
  // The hyperlink to the same workbook is a link of its own: it moves only itself.
  LinkAt(*document, kHyperlink)->SetPath(u"F:\\plan.ods");

  std::string expected = Moved(book.content, kPlan, "file:///E:/Archive/plan.ods");
  expected = ReplaceAll(expected, "xlink:href=\"file:///E:/Archive/plan.ods\">plan",
                        "xlink:href=\"file:///F:/plan.ods\">plan");
  expected = Moved(expected, kCosts, "file://srv2/proj/costs.ods");
  EXPECT_EQ(book.Content(), expected);
  EXPECT_EQ(LinkPaths(*server, book.file),
            (std::vector<std::u16string>{u"F:\\plan.ods", u"E:\\Archive\\plan.ods",
                                         u"\\\\srv2\\proj\\costs.ods"}));
}

struct SourceCase {
  const char* name;
  std::string body;
  std::u16string newPath;
  std::vector<std::pair<std::string, std::string>> replacements;  // in the part, in order
};

class SpreadsheetSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SpreadsheetSource, MovesTheFormulasThatQuoteIt) {
  const SourceCase& c = GetParam();
  Workbook book(c.body);
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(book.file.string()));
  LinkAt(*document, 0)->SetPath(c.newPath);

  std::string expected = book.content;
  for (const auto& [from, to] : c.replacements) expected = ReplaceAll(expected, from, to);
  ASSERT_NE(expected, book.content);
  EXPECT_EQ(book.Content(), expected);
  EXPECT_EQ(LinkPaths(*server, book.file), std::vector<std::u16string>{c.newPath});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpreadsheetSource,
    ::testing::Values(
        // A longer workbook name that starts with the same text stays.
        SourceCase{"CellRangeSourceButNotALongerName",
                   "<table:table table:name=\"Sheet1\"><table:table-row>"
                   "<table:table-cell><table:cell-range-source table:name=\"Sheet1.A1:B2\" "
                   "xlink:type=\"simple\" xlink:href=\"file:///C:/Data/range.ods\" "
                   "table:last-column-spanned=\"2\" table:last-row-spanned=\"2\"/>"
                   "</table:table-cell><table:table-cell table:formula=\"of:=SUM(['file:///C:/"
                   "Data/range.ods'#$Sheet1.A1:.B2])+['file:///C:/Data/range.ods.bak'#$Sheet1.A1]"
                   "\"/></table:table-row></table:table>\n",
                   u"D:\\Data\\range.ods",
                   {{"C:/Data/range.ods\"", "D:/Data/range.ods\""},
                    {"'file:///C:/Data/range.ods'#", "'file:///D:/Data/range.ods'#"}}},
        SourceCase{"QuoteInTheUrlIsMatchedAndWrittenDoubled",
                   "<table:table table:name=\"Sheet1\"><table:table-row><table:table-cell "
                   "table:formula=\"of:=['file:///C:/O''Neil/plan.ods'#$Sheet1.A1]\"/>"
                   "</table:table-row></table:table><table:table "
                   "table:name=\"'file:///C:/O''Neil/plan.ods'#Sheet1\"><table:table-source "
                   "xlink:href=\"file:///C:/O'Neil/plan.ods\" table:table-name=\"Sheet1\"/>"
                   "</table:table>\n",
                   u"D:\\O'Neil\\plan.ods",
                   {{"C:/O", "D:/O"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A part in another encoding is written again whole, not spliced.
TEST(SpreadsheetReference, APartInUtf16MovesAllThreePlacesAndStaysUtf16) {
  const std::string body =
      "<table:table table:name=\"Sheet1\"><table:table-row><table:table-cell "
      "table:formula=\"of:=['file:///C:/a.ods'#$Sheet1.A1]+['file:///C:/b.ods'#$Sheet1.A1]\"/>"
      "</table:table-row></table:table>"
      "<table:table table:name=\"'file:///C:/a.ods'#Sheet1\"><table:table-source "
      "xlink:href=\"file:///C:/a.ods\" table:table-name=\"Sheet1\"/></table:table>";
  std::string content = ReplaceAll(SheetContent(body), "UTF-8", "UTF-16");
  std::string wide("\xFF\xFE", 2);
  for (char c : content) wide += {c, '\0'};
  TempFolder folder;
  const fs::path file = folder / "wide.ods";
  WritePackage(file, OdtWith({{"content.xml", wide}}));
  EXPECT_EQ(SetFirstLink(file, u"D:\\a.ods"), 0);

  const std::string after = ReadEntry(file, "content.xml");
  ASSERT_TRUE(after.starts_with(wide.substr(0, 2)));
  std::string narrow;
  for (std::size_t i = 2; i + 1 < after.size(); i += 2) narrow += after[i];
  EXPECT_NE(narrow.find("table:formula=\"of:=['file:///D:/a.ods'#$Sheet1.A1]+['file:///C:/b.ods'#"),
            std::string::npos)
      << narrow;
  EXPECT_NE(narrow.find("table:name=\"'file:///D:/a.ods'#Sheet1\""), std::string::npos) << narrow;
  auto server = CreateBuiltinDocumentServer();
  EXPECT_EQ(LinkPaths(*server, file), std::vector<std::u16string>{u"D:\\a.ods"});
}

}  // namespace
}  // namespace quavelle::docserver::testing
