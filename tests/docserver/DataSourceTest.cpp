// Data sources that workbooks and mail merges read, as their settings name
// them: listed, each file once, and re-pointed in every place at once with
// the rest of each value kept byte for byte.
#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const std::string kConnections =
    kHead + "<connections xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";

std::string Connections(const std::string& body) { return kConnections + body + "</connections>"; }

const std::string kAccess =
    "<connection id=\"1\" sourceFile=\"\\\\srv1\\db\\sales.accdb\" "
    "odcFile=\"C:\\Users\\me\\Documents\\My Data Sources\\sales.odc\" keepAlive=\"1\" "
    "name=\"sales\" type=\"5\" refreshedVersion=\"6\" background=\"1\" saveData=\"1\"><dbPr "
    "connection=\"Provider=Db.Provider.12.0;User ID=Admin;Data "
    "Source=\\\\srv1\\db\\sales.accdb;Mode=Share Deny Write;Extended "
    "Properties=&quot;&quot;;Jet OLEDB:System database=&quot;&quot;;Jet OLEDB:Engine "
    "Type=6\" command=\"Orders\" commandType=\"3\"/></connection>";

const std::string kMashup =
    "<connection id=\"3\" keepAlive=\"1\" name=\"Query - x\" type=\"5\" refreshedVersion=\"6\" "
    "background=\"1\"><dbPr connection=\"Provider=Mashup.Provider.1;Data "
    "Source=$Workbook$;Location=x;Extended Properties=&quot;&quot;\" command=\"SELECT * FROM "
    "[x]\"/></connection>";

const std::string kSettingsRels = Rels(
    "<Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/mailMergeSource\" "
    "Target=\"file:///C:\\Data\\list.xlsx\" TargetMode=\"External\"/><Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/mailMergeSource\" "
    "Target=\"file:///C:\\Data\\list.xlsx\" TargetMode=\"External\"/>");

std::string Settings(const std::string& mailMerge) {
  return kHead +
         "<w:settings xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><w:zoom "
         "w:percent=\"100\"/><w:mailMerge><w:mainDocumentType w:val=\"formLetters\"/>"
         "<w:linkToQuery/><w:dataType w:val=\"native\"/>" +
         mailMerge + "</w:mailMerge><w:defaultTabStop w:val=\"708\"/></w:settings>";
}

const std::string kWorkbookMerge = Settings(
    "<w:connectString w:val=\"Provider=Db.Provider.12.0;User ID=Admin;Data "
    "Source=C:\\Data\\list.xlsx;Mode=Read;Extended Properties=&quot;HDR=YES;IMEX=1;&quot;;Jet "
    "OLEDB:System database=&quot;&quot;\"/><w:query w:val=\"SELECT * FROM "
    "`C:\\Data\\list.xlsx`.`Sheet1$` \"/><w:dataSource r:id=\"rId1\"/><w:viewMergedData/>"
    "<w:odso><w:udl w:val=\"Provider=Db.Provider.12.0;User ID=Admin;Data "
    "Source=C:\\Data\\list.xlsx;Mode=Read\"/><w:table w:val=\"Sheet1$\"/><w:src "
    "r:id=\"rId2\"/></w:odso>");

INSTANTIATE_TEST_SUITE_P(
    DataSources, RepointedPackage,
    ::testing::Values(
        // The database file in sourceFile and in the connection string is one link;
        // the .odc it was made from is another.
        PackageCase{
            "AccessDatabase",
            "a.xlsx",
            DocxWith({{"xl/connections.xml", Connections(kAccess)}}),
            {u"\\\\srv1\\db\\sales.accdb", u"C:\\Users\\me\\Documents\\My Data Sources\\sales.odc"},
            u"\\\\srv2\\data\\sales.accdb",
            {{"\\\\srv1\\db", "\\\\srv2\\data"}}},
        PackageCase{"OdbcFileAndFolder",
                    "a.xlsx",
                    DocxWith({{"xl/connections.xml",
                               Connections("<connection id=\"1\" name=\"q\" type=\"1\"><dbPr "
                                           "connection=\"DSN=Desk Database;DBQ=C:\\Data\\db.mdb;"
                                           "DefaultDir=C:\\Data;DriverId=25;FIL=Desk;\" "
                                           "command=\"SELECT * FROM t\"/></connection>")}}),
                    {u"C:\\Data\\db.mdb", u"C:\\Data"},
                    u"D:\\New data\\db.mdb",
                    {{"DBQ=C:\\Data\\db.mdb", "DBQ=D:\\New data\\db.mdb"}}},
        PackageCase{
            "TextImportAndWebQuery",
            "a.xlsx",
            DocxWith(
                {{"xl/connections.xml",
                  Connections("<connection id=\"2\" name=\"list\" type=\"6\" "
                              "refreshedVersion=\"6\" background=\"1\" saveData=\"1\"><textPr "
                              "codePage=\"850\" sourceFile=\"C:\\Data\\list.csv\" "
                              "delimited=\"0\"><textFields count=\"1\"><textField/>"
                              "</textFields></textPr></connection><connection id=\"4\" "
                              "name=\"web\" type=\"4\"><webPr sourceData=\"1\" "
                              "url=\"file:///C:/Data/page.htm\" htmlTables=\"1\"/></connection>"
                              "<connection id=\"5\" name=\"site\" type=\"4\"><webPr "
                              "url=\"https://example.org/t.htm\"/></connection>")}}),
            {u"C:\\Data\\list.csv", u"C:\\Data\\page.htm"},
            u"\\\\srv2\\d\\list.csv",
            {{"C:\\Data\\list.csv", "\\\\srv2\\d\\list.csv"}}},
        PackageCase{"MashupIsLeftAlone",
                    "a.xlsx",
                    DocxWith({{"xl/connections.xml", Connections(kMashup)}}),
                    {},
                    u"",
                    {}},
        // A mail merge's data file: two relationships, the connection strings and
        // the query are one link.
        PackageCase{"MailMergeWorkbook",
                    "a.docx",
                    DocxWith({{"word/settings.xml", kWorkbookMerge},
                              {"word/_rels/settings.xml.rels", kSettingsRels}}),
                    {u"C:\\Data\\list.xlsx"},
                    u"\\\\srv2\\merge\\list.xlsx",
                    {{"C:\\Data\\list.xlsx", "\\\\srv2\\merge\\list.xlsx"}}},
        PackageCase{
            "MailMergeTextQuery",
            "a.docx",
            DocxWith({{"word/settings.xml",
                       Settings("<w:query w:val=\"SELECT * FROM C:\\Data\\names.txt\"/>")}}),
            {u"C:\\Data\\names.txt"},
            u"D:\\Data\\names.txt",
            {{"C:\\Data\\names", "D:\\Data\\names"}}}),
    CaseName);

// A query names its file without quotes: a new path with a space would end
// the file name early, so it is refused when asked for and the document
// stays as it was.
TEST(DataSource, UnquotedQueryPathThatWouldSplitIsRefused) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(file, DocxWith({{"word/settings.xml",
                                Settings("<w:query w:val=\"SELECT * FROM C:\\Data\\n.txt\"/>")}}));
  const std::string before = ReadBytes(file);
  EXPECT_EQ(SetFirstLink(file, u"D:\\New data\\n.txt"), 1009);
  EXPECT_EQ(ReadBytes(file), before);
}

}  // namespace
}  // namespace quavelle::docserver::testing
