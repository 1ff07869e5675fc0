// The text rules of the link carriers: field instructions, connection
// strings, DDE topics, queries and drawing formulas, read and written back.
#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/ConnectionString.h"
#include "services/docserver/DrawingHyperlinkLinks.h"
#include "services/docserver/FieldInstruction.h"
#include "services/docserver/MailMergeLinks.h"
#include "services/docserver/OpenDocumentCarrierLinks.h"

namespace quavelle::docserver::testing {
namespace {

struct ArgumentCase {
  std::string instruction;
  std::size_t file;   // the token FileArgument finds, or kNoToken
  std::string value;  // its value
  std::string newValue;
  std::string written;  // the token written for newValue
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.instruction; }

class FieldArgument : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(FieldArgument, IsFoundUnescapedAndWrittenInItsStyle) {
  const ArgumentCase& c = GetParam();
  const std::vector<FieldToken> tokens = TokenizeField(c.instruction);
  const std::size_t k = FileArgument(tokens);
  ASSERT_EQ(k, c.file) << c.instruction;
  if (k == kNoToken) return;
  EXPECT_EQ(tokens[k].value, c.value);
  const std::string written = WriteFieldArgument(tokens[k], c.newValue);
  EXPECT_EQ(written, c.written);
  const std::vector<FieldToken> reread = TokenizeField(written);
  ASSERT_EQ(reread.size(), 1u) << written;
  EXPECT_EQ(reread[0].value, c.newValue);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FieldArgument,
    ::testing::Values(
        ArgumentCase{R"( INCLUDETEXT "C:\\Data\\a.docx" \! )", 1, R"(C:\Data\a.docx)",
                     R"(\\srv\p\a b.docx)", R"("\\\\srv\\p\\a b.docx")"},
        ArgumentCase{R"(INCLUDETEXT "\\srv1\proj\a.docx")", 1, R"(\\srv1\proj\a.docx)",
                     R"(\\srv2\proj\a.docx)", R"("\\srv2\proj\a.docx")"},
        // Literal backslashes stay literal unless they would read as escapes.
        ArgumentCase{R"(INCLUDETEXT "C:\Data\a.docx")", 1, R"(C:\Data\a.docx)",
                     R"(\\srv2\x\a.docx)", R"("\\srv2\x\a.docx")"},
        ArgumentCase{R"(INCLUDETEXT "C:\Data\a.docx")", 1, R"(C:\Data\a.docx)", R"(\\srv2\\x.docx)",
                     R"("\\\\srv2\\\\x.docx")"},
        ArgumentCase{R"(INCLUDEPICTURE C:\Pics\a.png \d)", 1, R"(C:\Pics\a.png)",
                     R"(D:\Pics\b.png)", R"(D:\Pics\b.png)"},
        ArgumentCase{R"(INCLUDEPICTURE file:///C:/a.png \d)", 1, "file:///C:/a.png",
                     "file:///D:/a b.png", R"("file:///D:/a b.png")"},
        ArgumentCase{R"(LINK Book.Sheet.12 "C:\\a.xlsx" "S!R1C1" \a \f 4)", 2, R"(C:\a.xlsx)",
                     R"(D:\a.xlsx)", R"("D:\\a.xlsx")"},
        ArgumentCase{R"(DDE Sheets "C:\\a.xlsx" "S!R1C1")", 2, R"(C:\a.xlsx)", "D:\\say \"x\".xlsx",
                     R"("D:\\say \"x\".xlsx")"},
        ArgumentCase{R"(DATABASE \s "SELECT" \d "C:\\db.mdb" \h)", 4, R"(C:\db.mdb)",
                     R"(D:\db.mdb)", R"("D:\\db.mdb")"},
        ArgumentCase{R"(HYPERLINK \l "Top")", kNoToken, "", "", ""},
        ArgumentCase{R"(DATABASE \d \c "x")", kNoToken, "", "", ""},
        ArgumentCase{R"(PAGE \* MERGEFORMAT)", kNoToken, "", "", ""},
        ArgumentCase{R"(includetext "a.docx")", 1, "a.docx", "b c.docx", R"("b c.docx")"}));

TEST(ConnectionString, ValuesKeepTheirQuotingAndTheRestStays) {
  const std::string text =
      "Provider=Db.Provider.12.0; Data Source = C:\\a.accdb ;Extended "
      "Properties=\"Sheet 12.0;HDR=YES\";Jet OLEDB:System database='C:\\it''s.mdw'";
  const std::vector<ConnectionValue> values = ParseConnectionString(text);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[1].key, "Data Source");
  EXPECT_EQ(values[1].value, "C:\\a.accdb");
  EXPECT_EQ(values[2].value, "Sheet 12.0;HDR=YES");
  EXPECT_EQ(values[3].value, "C:\\it's.mdw");
  EXPECT_TRUE(IsFileKey(values[1].key));
  EXPECT_TRUE(IsFileKey(values[3].key));
  EXPECT_FALSE(IsFileKey(values[2].key));
  EXPECT_EQ(WithConnectionValue(text, values[1], "D:\\b c.accdb"),
            "Provider=Db.Provider.12.0; Data Source = D:\\b c.accdb ;Extended "
            "Properties=\"Sheet 12.0;HDR=YES\";Jet OLEDB:System database='C:\\it''s.mdw'");
  EXPECT_EQ(WithConnectionValue(text, values[1], "D:\\a;b.accdb"),
            "Provider=Db.Provider.12.0; Data Source = \"D:\\a;b.accdb\" ;Extended "
            "Properties=\"Sheet 12.0;HDR=YES\";Jet OLEDB:System database='C:\\it''s.mdw'");
  EXPECT_EQ(WithConnectionValue(text, values[3], "D:\\o'k.mdw"),
            "Provider=Db.Provider.12.0; Data Source = C:\\a.accdb ;Extended "
            "Properties=\"Sheet 12.0;HDR=YES\";Jet OLEDB:System database='D:\\o''k.mdw'");
  EXPECT_TRUE(NamesFileByFullPath("\\\\srv\\share\\a.mdb"));
  EXPECT_TRUE(NamesFileByFullPath("file:///C:/a.mdb"));
  EXPECT_FALSE(NamesFileByFullPath("sql01"));
  EXPECT_FALSE(NamesFileByFullPath("$Workbook$"));
  EXPECT_FALSE(NamesFileByFullPath("\\\\srv"));
}

TEST(DdeTopic, IsAPathOrAFolderWithTheNameInBrackets) {
  std::optional<TopicPath> plain = ReadTopic("C:\\Data\\plan.ods");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->path, "C:\\Data\\plan.ods");
  EXPECT_EQ(WriteTopic(*plain, "\\\\srv\\d\\plan.ods"), "\\\\srv\\d\\plan.ods");
  std::optional<TopicPath> bracket = ReadTopic("C:\\Data\\[plan.xlsx]Sheet1");
  ASSERT_TRUE(bracket);
  EXPECT_EQ(bracket->path, "C:\\Data\\plan.xlsx");
  EXPECT_EQ(WriteTopic(*bracket, "\\\\srv\\d e\\plan 2.xlsx"), "\\\\srv\\d e\\[plan 2.xlsx]Sheet1");
  EXPECT_FALSE(ReadTopic("[plan.xlsx]Sheet1"));  // no folder: no full path
  EXPECT_FALSE(ReadTopic("System"));
}

TEST(MailMergeQuery, FindsFullPathsQuotedOrNot) {
  const std::string query = "SELECT * FROM `C:\\a b\\l.xlsx`.`Sheet1$` JOIN \\\\s\\p\\n.txt x";
  const auto paths = PathsInQuery(query);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(query.substr(paths[0].first, paths[0].second - paths[0].first), "C:\\a b\\l.xlsx");
  EXPECT_EQ(query.substr(paths[1].first, paths[1].second - paths[1].first), "\\\\s\\p\\n.txt");
  EXPECT_TRUE(PathsInQuery("SELECT * FROM `Sheet1$`").empty());
}

TEST(DrawingFormula, OnlyAStringLiteralIsTheCellsOwnText) {
  EXPECT_EQ(FormulaStringLiteral("\"C:\\a.docx\""), "C:\\a.docx");
  EXPECT_EQ(FormulaStringLiteral("\"say \"\"x\"\"\""), "say \"x\"");
  EXPECT_FALSE(FormulaStringLiteral("Inh"));
  EXPECT_FALSE(FormulaStringLiteral("User.Srv&\"\\a.docx\""));
  EXPECT_FALSE(FormulaStringLiteral("\"a\"&\"b\""));
}

}  // namespace
}  // namespace quavelle::docserver::testing
