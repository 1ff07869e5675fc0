// Drawing packages keep hyperlinks in the Address cells of their shapes, and
// binary workbooks keep external workbooks in relationships.
#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

std::string HyperlinkShape(int id, const std::string& addressCell) {
  return "<Shape ID=\"" + std::to_string(id) +
         "\" Type=\"Shape\" LineStyle=\"3\"><Cell N=\"PinX\" V=\"2\"/><Section "
         "N=\"Hyperlink\"><Row N=\"Row_1\"><Cell N=\"Description\" V=\"link\"/>" +
         addressCell +
         "<Cell N=\"SubAddress\" V=\"\"/><Cell N=\"NewWindow\" V=\"0\"/></Row></Section></Shape>";
}

std::string Sheet(const std::string& root, const std::string& shapes) {
  return kHead + "<" + root +
         " xmlns=\"http://schemas.microsoft.com/office/visio/2012/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
         "xml:space=\"preserve\"><Shapes>" +
         shapes + "</Shapes></" + root + ">";
}

const std::string kPage =
    Sheet("PageContents",
          HyperlinkShape(1, "<Cell N=\"Address\" V=\"\\\\srv1\\proj\\plan.xlsx\"/>") +
              HyperlinkShape(2,
                             "<Cell N=\"Address\" V=\"C:\\Data\\a &quot;b&quot;.docx\" "
                             "F=\"&quot;C:\\Data\\a &quot;&quot;b&quot;&quot;.docx&quot;\"/>") +
              HyperlinkShape(3, "<Cell N=\"Address\" V=\"C:\\Data\\inherited.docx\" F=\"Inh\"/>") +
              HyperlinkShape(4,
                             "<Cell N=\"Address\" V=\"\\\\srv1\\p\\c.docx\" "
                             "F=\"User.Srv&amp;&quot;\\c.docx&quot;\"/>") +
              HyperlinkShape(5, "<Cell N=\"Address\" V=\"https://example.org/\"/>"));
const std::string kMaster = Sheet(
    "MasterContents", HyperlinkShape(5, "<Cell N=\"Address\" V=\"..\\Data\\inherited.docx\"/>"));

std::vector<Entry> Drawing() {
  return {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?><Types "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
      {"visio/masters/master1.xml", kMaster},
      {"visio/pages/page1.xml", kPage},
      {"visio/pages/_rels/page1.xml.rels", Rels(Hyperlink("rId1", "file:///C:\\Data\\rel.xlsx"))}};
}

// The master's relative address counts from the drawing's folder; a cell
// whose formula is a literal moves value and formula together.
TEST(Drawing, ListsAddressCellsThatAreTheirOwnAndMovesThemWithTheirFormula) {
  TempFolder folder;
  const fs::path file = folder / "net" / "plan.vsdx";
  fs::create_directories(file.parent_path());
  WritePackage(file, Drawing());
  const std::u16string up = U16(folder.path().string());
  EXPECT_EQ(LinkPaths(file),
            (std::vector<std::u16string>{up + u"/Data/inherited.docx", u"\\\\srv1\\proj\\plan.xlsx",
                                         u"C:\\Data\\a \"b\".docx", u"C:\\Data\\rel.xlsx"}));
  auto server = CreateBuiltinDocumentServer();
  {
    auto document = server->Open(U16(file.string()));
    EnumeratedLinks links(*document);
    links[1].SetPath(u"\\\\srv2\\proj\\plan.xlsx");
    links[2].SetPath(u"D:\\Data\\a \"b\".docx");
    links.Finish();
  }
  EXPECT_EQ(ReadEntries(file, false).at(2).bytes,
            Edited(kPage, {{"V=\"\\\\srv1\\proj", "V=\"\\\\srv2\\proj"},
                           {"V=\"C:\\Data\\a", "V=\"D:\\Data\\a"},
                           {"F=\"&quot;C:\\Data", "F=\"&quot;D:\\Data"}}));
}

INSTANTIATE_TEST_SUITE_P(
    BinaryWorkbook, RepointedPackage,
    ::testing::Values(PackageCase{
        "ExternalWorkbookRelationship",
        "totals.xlsb",
        {{"[Content_Types].xml", "<Types/>"},
         {"xl/externalLinks/externalLink1.bin", std::string("\x01\x02\x03", 3)},
         {"xl/externalLinks/_rels/externalLink1.bin.rels",
          Rels("<Relationship Id=\"rId1\" "
               "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
               "externalLinkPath\" Target=\"file:///\\\\srv1\\fin\\plan.xlsb\" "
               "TargetMode=\"External\"/>")}},
        {u"\\\\srv1\\fin\\plan.xlsb"},
        u"\\\\srv2\\fin\\plan.xlsb",
        {{"srv1", "srv2"}}}),
    CaseName);

}  // namespace
}  // namespace quavelle::docserver::testing
