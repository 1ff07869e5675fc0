#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

std::string Relationship(const std::string& type, const std::string& target,
                         const std::string& mode) {
  return "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
         "2006/relationships/" +
         type + "\" Target=\"" + target + "\" TargetMode=\"" + mode + "\"/>";
}

struct ListingCase {
  const char* fileName;  // its extension picks the format
  std::vector<Entry> parts;
  std::vector<std::string> expected;  // a leading '/' is under the document's folder
};

class LinkListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(LinkListing, ListsTheFileLinksOfThePackageInPackageThenDocumentOrder) {
  const ListingCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  WritePackage(file, c.fileName[2] == 'o' ? OdtWith(c.parts) : DocxWith(c.parts));
  std::vector<std::u16string> expected;
  for (const std::string& path : c.expected) {
    expected.push_back(U16(path[0] == '/' ? folder.path().string() + path : path));
  }

  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  EXPECT_EQ(LinkPaths(*document), expected);
  EXPECT_EQ(LinkPaths(*document), expected) << "every enumeration starts at the first link";
}

INSTANTIATE_TEST_SUITE_P(
    BothFormats, LinkListing,
    ::testing::Values(
        // A footer's links come before the document's; web and internal targets are no links.
        ListingCase{
            "a.docx",
            {{"word/_rels/footer1.xml.rels",
              Rels(Relationship("hyperlink", "file:///C:\\Data\\plan%20a.xlsx", "External") +
                   Relationship("hyperlink", "https://example.com/a.docx", "External") +
                   Relationship("image", "media/image1.png", "Internal"))},
             {"word/_rels/document.xml.rels",
              Rels(Relationship("oleObject", "file:///C:/old/data.xlsx!Tables!R1C1:R5C5",
                                "external"))}},
            {"C:\\Data\\plan a.xlsx", "C:\\old\\data.xlsx"}},
        ListingCase{"a.odt",
                    {{"content.xml",
                      OdfContent("<text:a xlink:href=\"file://srv1/proj/a.odt\">a</text:a>"
                                 "<draw:image xlink:href=\"Pictures/1000.png\"/>"
                                 "<draw:object xlink:href=\"./Object 1\"/>"
                                 "<text:a xlink:href=\"#Top\">t</text:a>"
                                 "<text:a xlink:href=\"http://example.com/a.odt\">w</text:a>")},
                     {"meta.xml",
                      "<office:document-meta xmlns:office=\"urn:o\" xmlns:meta=\"urn:m\" "
                      "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><office:meta><meta:template "
                      "xlink:href=\"file:///C:/Templates/corp.ott\"/></office:meta></"
                      "office:document-meta>"},
                     {"styles.xml",
                      "<office:document-styles xmlns:office=\"urn:o\" xmlns:style=\"urn:s\" "
                      "xmlns:xl=\"http://www.w3.org/1999/xlink\"><style:background-image "
                      "xl:href=\"file:///C:/Data/bg.png#x\"/></office:document-styles>"}},
                    {"\\\\srv1\\proj\\a.odt", "C:\\Templates\\corp.ott", "C:\\Data\\bg.png"}},
        // A network-path reference names a file on a share; one with no share
        // below its host is a web address.
        ListingCase{"a.odp",
                    {{"content.xml",
                      OdfContent("<draw:image xlink:href=\"//upload.example.org/img.png\"/>"
                                 "<text:a xlink:href=\"//srv1/proj/dir%20x/a.odt\">a</text:a>")}},
                    {"\\\\srv1\\proj\\dir x\\a.odt"}},
        // A part whose DOCTYPE only names a DTD is read; nothing is loaded for it.
        ListingCase{
            "a.odt",
            {{"Object 1/content.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE math:math PUBLIC "
              "\"-//OpenOffice.org//DTD Modified W3C MathML 1.01//EN\" \"math.dtd\">\n"
              "<math:math xmlns:math=\"http://www.w3.org/1998/Math/MathML\" "
              "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><math:semantics><math:mi "
              "xlink:href=\"file:///C:/Data/m.odt\">x</math:mi></math:semantics></math:math>"},
             {"content.xml", OdfContent("<draw:object xlink:href=\"./Object 1\"/>")}},
            {"C:\\Data\\m.odt"}},
        // Relative links count from the package as a folder, a sub-document's from its own.
        ListingCase{
            "a.ods",
            {{"content.xml", OdfContent("<text:a xlink:href=\"../rel%20doc.odt\">r</text:a>")},
             {"Object 1/content.xml", OdfContent("<text:a xlink:href=\"../../x.ods\">x</text:a>")}},
            {"/rel doc.odt", "/x.ods"}},
        // A part stored without compression; a package too large to be read whole
        // when opened, its link part between two large stored pictures.
        ListingCase{"a.odt",
                    {{"content.xml",
                      OdfContent("<text:a xlink:href=\"file:///D:/s.odt\">s</text:a>"), true}},
                    {"D:\\s.odt"}},
        ListingCase{"a.docx",
                    {{"word/media/a.png", std::string(300000, '\x89'), true},
                     {"word/_rels/document.xml.rels",
                      Rels(Relationship("hyperlink", "file:///E:/big.xlsx", "External"))},
                     {"word/media/b.png", std::string(300000, '\x90'), true}},
                    {"E:\\big.xlsx"}}));

TEST(PlainFiles, AreDocumentsWithoutLinksAndAreNotRead) {
  auto server = CreateBuiltinDocumentServer();
  // None of these exist: the decision is by name alone.
  for (const char* name : {"/none/notes.txt", "/none/archive.zip", "/none/old.rtf"}) {
    std::unique_ptr<Document> document = server->Open(U16(name));
    EXPECT_EQ(document->LinkedDocuments(), nullptr) << name;
    EXPECT_EQ(document->FullName(), U16(name));
  }
}

}  // namespace
}  // namespace quavelle::docserver::testing
