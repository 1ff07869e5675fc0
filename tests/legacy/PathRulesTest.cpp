// The text rules of binary files: encoded workbook paths,
// relative paths, and hyperlink monikers padded to their old size.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "services/docserver/HyperlinkObject.h"
#include "services/docserver/LegacyPaths.h"
#include "services/docserver/VirtualPath.h"

namespace quavelle::docserver {
namespace {

TEST(VirtualPath, DecodesWhatWorkbooksStore) {
  const struct {
    std::u16string encoded;
    std::optional<std::u16string> path;
  } kRows[] = {
      {u"\x01\x01"
       u"CData\x03plan.xls",
       u"C:\\Data\\plan.xls"},
      {u"\x01\x01@srv1\x03proj\x03"
       u"data.xls",
       u"\\\\srv1\\proj\\data.xls"},
      {u"\x01\x02"
       u"Data\x03x.xls",
       u"\\Data\\x.xls"},
      {u"\x01\x04\x03"
       u"up.xls",
       u"..\\up.xls"},
      {u"\x01"
       u"same folder.xls",
       u"same folder.xls"},
      {u"C:\\plain.xls", u"C:\\plain.xls"},
      {u"\x01\x05\x13http://example.org/x", std::nullopt},
      {u"\x01\x06"
       u"startup.xls",
       std::nullopt},
      {u"Sheets\x03"
       u"topic",
       std::nullopt},
      {u"\x01\x01", std::nullopt},
  };
  for (const auto& row : kRows) EXPECT_EQ(DecodeVirtualPath(row.encoded), row.path);
}

TEST(VirtualPath, EncodesOnlyDriveAndServerPathsAndReadsThemBack) {
  for (std::u16string path : {u"D:\\Archive\\plan 2024.xls", u"\\\\s2\\p\\d.xls"}) {
    auto encoded = EncodeVirtualPath(path);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(DecodeVirtualPath(*encoded), path);
  }
  for (std::u16string path : {u"/home/u/a.xls", u"a.xls",
                              u"C:\\a\x01"
                              u"b.xls",
                              u"\\\\"})
    EXPECT_FALSE(EncodeVirtualPath(path)) << path.size();
}

TEST(LegacyPaths, ResolvesRelativePathsAgainstTheDocumentsFolder) {
  const struct {
    std::u16string base, path, full;
  } kRows[] = {
      {u"/srv/docs/sub", u"..\\x.xls", u"/srv/docs/x.xls"},
      {u"/srv/docs", u"\\Data\\x.xls", u"/Data/x.xls"},
      {u"C:\\docs\\sub", u"..\\..\\..\\x.xls", u"C:\\x.xls"},
      {u"\\\\srv1\\proj\\a", u"b\\.\\c.doc", u"\\\\srv1\\proj\\a\\b\\c.doc"},
      {u"\\\\srv1\\proj\\a", u"\\c.doc", u"\\\\srv1\\proj\\c.doc"},
      {u"/srv", u"D:\\keep.xls", u"D:\\keep.xls"},
  };
  for (const auto& row : kRows) {
    TargetContext context{TargetSyntax::OfficeOpenXml, row.base, row.base};
    EXPECT_EQ(ResolveLegacyPath(row.path, context), row.full) << row.full.size();
  }
  EXPECT_TRUE(SameLegacyPath(u"C:\\Data\\A.xls", u"c:\\data\\a.XLS"));
  EXPECT_FALSE(SameLegacyPath(u"/data/A.xls", u"/data/a.xls"));
}

TEST(HyperlinkObject, FileMonikerKeepsItsSizeWhenPaddedAndReadsBack) {
  HyperlinkObject file;
  file.kind = MonikerKind::File;
  file.unicodePath = true;
  auto longer = FormatMoniker(file, u"\\\\srv1\\proj\\report.doc");
  ASSERT_TRUE(longer);
  auto padded = FormatMonikerSized(file, u"\\\\s\\p\\r.doc", longer->size());
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->size(), longer->size());
  // As a whole object: version, flags (moniker), then the moniker.
  const std::string object = std::string("\x02\0\0\0\x01\0\0\0", 8) + *padded;
  std::size_t end = 0;
  auto parsed = ParseHyperlinkObject(object, &end);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->target, u"\\\\s\\p\\r.doc");
  EXPECT_EQ(end, object.size());
  EXPECT_FALSE(FormatMonikerSized(file, u"\\\\srv1\\proj\\a-longer-report.doc", longer->size()));
  // No 8-bit form for the name: refused, though a UTF-16 copy would hold it.
  EXPECT_FALSE(FormatMoniker(file, u"C:\\\u4E2D.doc"));
}

}  // namespace
}  // namespace quavelle::docserver
