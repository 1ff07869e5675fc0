#include "core/LinkRewrite.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "services/Text.h"

namespace quavelle {
namespace {

struct RewriteCase {
  const char* fact;
  std::u16string path, drive, current, typed;
  bool matches;
  std::u16string newDrive, newPath;  // only when it matches
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.fact; }

class LinkRewriteRule : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(LinkRewriteRule, DecidesAndRewrites) {
  const RewriteCase& c = GetParam();
  ASSERT_EQ(DriveMatches(c.drive, c.current), c.matches);
  if (!c.matches) return;
  const RewrittenLink link = RewriteLink(c.path, c.drive, c.current, c.typed);
  EXPECT_EQ(ToUtf8(link.newDriveName), ToUtf8(c.newDrive));
  EXPECT_EQ(ToUtf8(link.newPath), ToUtf8(c.newPath));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, LinkRewriteRule, ::testing::Values(
    RewriteCase{"letter drive swapped", u"C:\\Data\\plan.doc", u"C:", u"C:", u"D:", true, u"D:", u"D:\\Data\\plan.doc"},
    RewriteCase{"case ignored, new text as typed", u"C:\\a.doc", u"C:", u"c:", u"x:", true, u"x:", u"x:\\a.doc"},
    RewriteCase{"path case ignored too", u"c:\\a.doc", u"C:", u"C:", u"D:", true, u"D:", u"D:\\a.doc"},
    RewriteCase{"text longer than drive", u"C:\\a.doc", u"C:", u"C:\\", u"D:\\", false, u"", u""},
    RewriteCase{"server part of a share", u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj", u"\\\\srv1", u"\\\\srv2", true, u"\\\\srv2\\proj", u"\\\\srv2\\proj\\a.doc"},
    RewriteCase{"inner part of a share", u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj", u"srv1", u"srv2", true, u"\\\\srv2\\proj", u"\\\\srv2\\proj\\a.doc"},
    RewriteCase{"first occurrence in drive only", u"\\\\ab\\ab\\x.doc", u"\\\\ab\\ab", u"ab", u"cd", true, u"\\\\cd\\ab", u"\\\\cd\\ab\\x.doc"},
    RewriteCase{"drive repeated later in path kept", u"C:\\old\\C:\\c:x.doc", u"C:", u"C:", u"D:", true, u"D:", u"D:\\old\\C:\\c:x.doc"},
    RewriteCase{"colon matches any lettered drive", u"E:\\x", u"E:", u":", u"-", true, u"E-", u"E-\\x"},
    RewriteCase{"empty drive never matches", u"relative\\x.doc", u"", u"", u"D:", false, u"", u""},
    RewriteCase{"empty text keeps link as is", u"C:\\x.doc", u"C:", u"", u"D:", true, u"C:", u"C:\\x.doc"},
    RewriteCase{"empty new text strips drive", u"C:\\Data\\plan.doc", u"C:", u"C:", u"", true, u"", u"\\Data\\plan.doc"},
    RewriteCase{"new text containing the old", u"\\\\s\\p\\s.doc", u"\\\\s\\p", u"s", u"ss", true, u"\\\\ss\\p", u"\\\\ss\\p\\s.doc"},
    RewriteCase{"other drive letter", u"E:\\x.doc", u"E:", u"C:", u"D:", false, u"", u""},
    RewriteCase{"accented letters fold", u"\\\\Srv\u00C9\\p\\x", u"\\\\Srv\u00C9\\p", u"srv\u00E9", u"n", true, u"\\\\n\\p", u"\\\\n\\p\\x"},
    RewriteCase{"cyrillic and final sigma fold", u"\\\\\u0421\u0415\u03A3\\p\\x", u"\\\\\u0421\u0415\u03A3\\p", u"\u0441\u0435\u03C2", u"b", true, u"\\\\b\\p", u"\\\\b\\p\\x"},
    RewriteCase{"kelvin sign equals k", u"\\\\\u212Aa\\p\\x", u"\\\\\u212Aa\\p", u"KA", u"m", true, u"\\\\m\\p", u"\\\\m\\p\\x"},
    RewriteCase{"dotted I is no plain i", u"\\\\\u0130\\p\\x", u"\\\\\u0130\\p", u"i", u"m", false, u"", u""},
    RewriteCase{"astral characters kept whole", u"\\\\s\U0001F600\\p\\\U0001F600.doc", u"\\\\s\U0001F600\\p", u"s\U0001F600", u"t\U0001F601", true, u"\\\\t\U0001F601\\p", u"\\\\t\U0001F601\\p\\\U0001F600.doc"},
    RewriteCase{"low half of a pair never matches", u"\\\\\U0001F600\\p\\x", u"\\\\\U0001F600\\p", std::u16string(1, char16_t{0xDE00}), u"x", false, u"", u""},
    RewriteCase{"high half of a pair never matches", u"\\\\\U0001F600\\p\\x", u"\\\\\U0001F600\\p", std::u16string(1, char16_t{0xD83D}), u"x", false, u"", u""}
));
// clang-format on

}  // namespace
}  // namespace quavelle
