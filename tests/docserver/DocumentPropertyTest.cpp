// The extended properties of a package: the hyperlink base and the cached
// hyperlink addresses, which must move with the hyperlinks they copy.
#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocumentPropertyLinks.h"

namespace quavelle::docserver::testing {
namespace {

// Worked by hand from the documented rule: unit pairs (second << 16 | first),
// lower case, exclusive or; an odd last unit pairs with 0.
TEST(HyperlinkHash, FoldsLowerCasedUnitPairsOfBothStrings) {
  EXPECT_EQ(HyperlinkHash(u"", u""), 0u);
  EXPECT_EQ(HyperlinkHash(u"ab", u""), 0x00620061u);
  EXPECT_EQ(HyperlinkHash(u"AB", u""), 0x00620061u);
  EXPECT_EQ(HyperlinkHash(u"abc", u""), 0x00620061u ^ 0x00000063u);
  EXPECT_EQ(HyperlinkHash(u"ab", u"ab"), 0u);
  EXPECT_EQ(HyperlinkHash(u"a", u"b"), 0x61u ^ 0x62u);
  // Only the first 255 units count.
  EXPECT_EQ(HyperlinkHash(std::u16string(255, u'a') + u"zz", u""),
            HyperlinkHash(std::u16string(255, u'a'), u""));
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

std::string Variant(const std::string& type, const std::string& value) {
  return "<vt:variant><vt:" + type + ">" + value + "</vt:" + type + "></vt:variant>";
}

std::string CachedHyperlink(const std::string& address, const std::string& location) {
  const auto hash = static_cast<std::int32_t>(HyperlinkHash(U16(address), U16(location)));
  return Variant("i4", std::to_string(hash)) + Variant("i4", "6") + Variant("i4", "0") +
         Variant("i4", "5") + Variant("lpwstr", address) + Variant("lpwstr", location);
}

std::string AppProperties(const std::string& body) {
  return kHead +
         "<Properties "
         "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
         "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
         "<Template>Normal.dotm</Template><TotalTime>1</TotalTime>" +
         body + "<AppVersion>16.0000</AppVersion></Properties>";
}

std::string HLinks(const std::string& entries, int count) {
  return "<HLinks><vt:vector size=\"" + std::to_string(count * 6) + "\" baseType=\"variant\">" +
         entries + "</vt:vector></HLinks>";
}

TEST(DocumentProperties, CachedHyperlinkMovesWithItsRelationshipAndGetsANewHash) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  const auto app = [](const std::string& plan) {
    return AppProperties(HLinks(
        CachedHyperlink(plan, "Sheet1!A1") + CachedHyperlink("https://example.org/", ""), 2));
  };
  const auto rels = [](const std::string& plan) { return Rels(Hyperlink("rId3", plan)); };
  WritePackage(file,
               DocxWith({{"docProps/app.xml", app("C:\\Data\\plan.xlsx")},
                         {"word/_rels/document.xml.rels", rels("file:///C:\\Data\\plan.xlsx")}}));
  EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"C:\\Data\\plan.xlsx"});

  ASSERT_EQ(SetFirstLink(file, u"\\\\srv2\\Data\\plan.xlsx"), 0);
  const std::vector<RawEntry> entries = ReadEntries(file, false);
  EXPECT_EQ(entries.at(3).bytes, app("\\\\srv2\\Data\\plan.xlsx"));
  EXPECT_EQ(entries.at(4).bytes, rels("file:///\\\\srv2\\Data\\plan.xlsx"));
}

TEST(DocumentProperties, HyperlinkBaseIsALinkAndTheBaseOfRelativeHyperlinks) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  const auto app = [](const std::string& base) {
    return AppProperties("<HyperlinkBase>" + base + "</HyperlinkBase>");
  };
  const std::string rels = Rels(Hyperlink("rId3", "reports/plan.xlsx"));
  WritePackage(file, DocxWith({{"docProps/app.xml", app("\\\\srv1\\docs\\")},
                               {"word/_rels/document.xml.rels", rels}}));
  EXPECT_EQ(LinkPaths(file), (std::vector<std::u16string>{u"\\\\srv1\\docs\\",
                                                          u"\\\\srv1\\docs\\reports\\plan.xlsx"}));
  ASSERT_EQ(SetFirstLink(file, u"\\\\srv2\\archive\\docs\\"), 0);
  EXPECT_EQ(LinkPaths(file),
            (std::vector<std::u16string>{u"\\\\srv2\\archive\\docs\\",
                                         u"\\\\srv2\\archive\\docs\\reports\\plan.xlsx"}));
  const std::vector<RawEntry> entries = ReadEntries(file, false);
  EXPECT_EQ(entries.at(3).bytes, app("\\\\srv2\\archive\\docs\\"));
  EXPECT_EQ(entries.at(4).bytes, rels);
}

TEST(DocumentProperties, UnderAWebHyperlinkBaseRelativeHyperlinksAreWebAddresses) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(
      file,
      DocxWith(
          {{"docProps/app.xml", AppProperties("<HyperlinkBase>https://intranet.example/docs/"
                                              "</HyperlinkBase>")},
           {"word/_rels/document.xml.rels", Rels(Hyperlink("rId3", "reports/plan.xlsx") +
                                                 Hyperlink("rId4", "file:///C:\\Data\\a.docx"))}}));
  EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"C:\\Data\\a.docx"});
}

}  // namespace
}  // namespace quavelle::docserver::testing
