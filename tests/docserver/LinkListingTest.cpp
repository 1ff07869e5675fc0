#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string Relationship(const std::string& type, const std::string& target,
                         const std::string& mode = "External") {
  std::string xml = "<Relationship Id=\"rId9\" Type=\"" + std::string(kRel) + type +
                    "\" Target=\"" + target + "\"";
  if (!mode.empty()) xml += " TargetMode=\"" + mode + "\"";
  return xml + "/>";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

struct ListingCase {
  const char* name;
  const char* fileName;  // its extension picks the format
  std::vector<Entry> parts;
  std::vector<std::string> expected;  // "{dir}" is the document's folder, "{parent}" its parent
};

class LinkListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(LinkListing, ListsTheFileLinksOfThePackageInPackageThenDocumentOrder) {
  const ListingCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  bool odf = fs::path(c.fileName).extension().string().starts_with(".o");
  WritePackage(file, odf ? OdtWith(c.parts) : DocxWith(c.parts));
  std::vector<std::u16string> expected;
  for (const std::string& path : c.expected) {
    std::string resolved = Replace(path, "{dir}", folder.path().string());
    expected.push_back(U16(Replace(resolved, "{parent}", folder.path().parent_path().string())));
  }

  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  EXPECT_EQ(document->FullName(), U16(file.string()));
  auto links = document->LinkedDocuments();
  ASSERT_TRUE(links);
  for (int round = 0; round < 2; ++round) {  // every enumeration starts at the first link
    std::vector<std::u16string> paths;
    auto it = links->NewEnum();
    while (auto link = it->Next()) paths.push_back(link->AbsolutePath());
    EXPECT_EQ(paths, expected);
  }
}

std::vector<ListingCase> Cases() {
  return {
      {"WordHyperlinkWithBackslashesAndEscapedSpace",
       "a.docx",
       {{"word/_rels/document.xml.rels",
         Rels(Relationship("hyperlink", "file:///C:\\Data\\plan%20a.xlsx"))}},
       {"C:\\Data\\plan a.xlsx"}},
      {"LinkedImageInAHeader",
       "a.docx",
       {{"word/_rels/header1.xml.rels", Rels(Relationship("image", "file:///C:/Data/logo.png"))}},
       {"C:\\Data\\logo.png"}},
      {"LinkedOleObjectLosesItsItem",
       "a.docx",
       {{"word/_rels/document.xml.rels",
         Rels(Relationship("oleObject", "file:///C:/old/data.xlsx!Tables!R1C1:R5C5"))}},
       {"C:\\old\\data.xlsx"}},
      {"ExternalWorkbookAsPlainPath",
       "book.XLSX",
       {{"xl/externalLinks/_rels/externalLink1.xml.rels",
         Rels(Relationship("externalLinkPath", "c:\\sourceData.xlsx"))}},
       {"c:\\sourceData.xlsx"}},
      {"TemplateOnAShareWithLowerCaseTargetMode",
       "a.dotm",
       {{"word/_rels/settings.xml.rels",
         Rels(Relationship("attachedTemplate", "file:///\\\\srv1\\tpl\\corp.dotx", "external"))}},
       {"\\\\srv1\\tpl\\corp.dotx"}},
      {"RelativeTargetCountsFromThePackageFolder",
       "a.pptx",
       {{"ppt/slides/_rels/slide1.xml.rels",
         Rels(Relationship("hyperlink", "../Data/rel%20doc.docx"))}},
       {"{parent}/Data/rel doc.docx"}},
      {"InternalWebAndMailTargetsAreNoLinks",
       "a.docx",
       {{"word/_rels/document.xml.rels",
         Rels(Relationship("image", "media/image1.png", "") +
              Relationship("hyperlink", "https://example.com/a.docx") +
              Relationship("hyperlink", "mailto:someone@example.com") +
              Relationship("oleObject", "embeddings/x.bin", "Internal"))}},
       {}},
      {"FooterPartBeforeTheDocumentPart",
       "order.docx",
       {{"word/_rels/footer1.xml.rels",
         Rels(Relationship("hyperlink", "C:\\f1.docx") + Relationship("hyperlink", "C:\\f2.docx"))},
        {"word/_rels/document.xml.rels", Rels(Relationship("hyperlink", "C:\\d1.docx"))}},
       {"C:\\f1.docx", "C:\\f2.docx", "C:\\d1.docx"}},
      {"OdfTextLinkToAShare",
       "a.odt",
       {{"content.xml", OdfContent("<text:p><text:a xlink:type=\"simple\" "
                                   "xlink:href=\"file://srv1/proj/a.odt\">a</text:a></text:p>")}},
       {"\\\\srv1\\proj\\a.odt"}},
      {"OdfImageSectionAndFragment",
       "a.ODT",
       {{"content.xml",
         OdfContent(
             "<draw:frame><draw:image xlink:href=\"file:///C:/Data/logo.png\"/></draw:frame>"
             "<text:section><text:section-source xlink:href=\"file:///C:/Data/chapter.odt\"/>"
             "</text:section><text:p><text:a "
             "xlink:href=\"file:///C:/Data/plan.xlsx#Sheet1\">p</text:a></text:p>")}},
       {"C:\\Data\\logo.png", "C:\\Data\\chapter.odt", "C:\\Data\\plan.xlsx"}},
      {"OdfTemplateInMetaAndBackgroundInStyles",
       "a.ott",
       {{"meta.xml",
         "<office:document-meta xmlns:office=\"urn:o\" xmlns:meta=\"urn:m\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><office:meta><meta:template "
         "xlink:href=\"file:///C:/Templates/corp.ott\"/></office:meta></office:document-meta>"},
        {"styles.xml",
         "<office:document-styles xmlns:office=\"urn:o\" xmlns:style=\"urn:s\" "
         "xmlns:xl=\"http://www.w3.org/1999/xlink\"><style:background-image "
         "xl:href=\"file:///C:/Data/bg.png\"/></office:document-styles>"}},
       {"C:\\Templates\\corp.ott", "C:\\Data\\bg.png"}},
      {"OdfRelativeLinksCountFromThePackageAsAFolder",
       "a.ods",
       {{"content.xml", OdfContent("<text:a xlink:href=\"../Data/rel%20doc.odt\">r</text:a>")},
        {"Object 1/content.xml", OdfContent("<text:a xlink:href=\"../../x.ods\">x</text:a>")}},
       {"{dir}/Data/rel doc.odt", "{dir}/x.ods"}},
      {"OdfPartsWebAndOtherNamespacesAreNoLinks",
       "a.odp",
       {{"content.xml",
         OdfContent("<draw:image xlink:href=\"Pictures/1000.png\"/>"
                    "<draw:object xlink:href=\"./Object 1\"/>"
                    "<text:a xlink:href=\"#Top\">t</text:a>"
                    "<text:a xlink:href=\"http://example.com/a.odt\">w</text:a>"
                    "<text:a xmlns:other=\"urn:other\" other:href=\"C:\\x.odt\">o</text:a>")},
        {"settings.xml",
         "<s xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:href=\"C:\\no.odt\"/>"}},
       {}},
  };
}

INSTANTIATE_TEST_SUITE_P(BothFormats, LinkListing, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlainFiles, AreDocumentsWithoutLinksAndAreNotRead) {
  TempFolder folder;
  auto server = CreateBuiltinDocumentServer();
  // None of these exist: the decision is by name alone.
  for (const char* name : {"notes.txt", "README", "archive.zip", "old.doc", "flat.fodt", "docx"}) {
    std::string path = (folder / name).string();
    std::unique_ptr<Document> document = server->Open(U16(path));
    EXPECT_EQ(document->LinkedDocuments(), nullptr) << name;
    EXPECT_EQ(document->FullName(), U16(path));
  }
}

}  // namespace
}  // namespace quavelle::docserver::testing
