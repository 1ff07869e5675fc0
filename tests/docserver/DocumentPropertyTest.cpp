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

std::string Links(const std::string& first) {
  return AppProperties(
      HLinks(CachedHyperlink(first, "Sheet1!A1") + CachedHyperlink("https://example.org/", ""), 2));
}

const std::string kRelative = Rels(Hyperlink("rId3", "reports/plan.xlsx"));

std::string Base(const std::string& base) {
  return AppProperties("<HyperlinkBase>" + base + "</HyperlinkBase>");
}

INSTANTIATE_TEST_SUITE_P(
    DocumentProperties, RepointedPackage,
    ::testing::Values(
        // A cached hyperlink moves with its relationship and gets a new hash.
        PackageCase{"CachedHyperlink",
                    "a.docx",
                    DocxWith({{"docProps/app.xml", Links("C:\\Data\\plan.xlsx")},
                              {"word/_rels/document.xml.rels",
                               Rels(Hyperlink("rId3", "file:///C:\\Data\\plan.xlsx"))}}),
                    {u"C:\\Data\\plan.xlsx"},
                    u"\\\\srv2\\Data\\plan.xlsx",
                    {{Links("C:\\Data\\plan.xlsx"), Links("\\\\srv2\\Data\\plan.xlsx")},
                     {"file:///C:", "file:///\\\\srv2"}}},
        // The hyperlink base is a link and the base of relative hyperlinks.
        PackageCase{"HyperlinkBase",
                    "a.docx",
                    DocxWith({{"docProps/app.xml", Base("\\\\srv1\\docs\\")},
                              {"word/_rels/document.xml.rels", kRelative}}),
                    {u"\\\\srv1\\docs\\", u"\\\\srv1\\docs\\reports\\plan.xlsx"},
                    u"\\\\srv2\\archive\\docs\\",
                    {{"\\\\srv1\\docs", "\\\\srv2\\archive\\docs"}},
                    {u"\\\\srv2\\archive\\docs\\", u"\\\\srv2\\archive\\docs\\reports\\plan.xlsx"}},
        // Under a web hyperlink base, relative hyperlinks are web addresses.
        PackageCase{"WebHyperlinkBase",
                    "a.docx",
                    DocxWith({{"docProps/app.xml", Base("https://intranet.example/docs/")},
                              {"word/_rels/document.xml.rels",
                               Rels(Hyperlink("rId3", "reports/plan.xlsx") +
                                    Hyperlink("rId4", "file:///C:\\Data\\a.docx"))}}),
                    {u"C:\\Data\\a.docx"},
                    u"D:\\Data\\a.docx",
                    {{"file:///C:", "file:///D:"}}}),
    CaseName);

}  // namespace
}  // namespace quavelle::docserver::testing
