#include "core/LinkRewrite.h"

#include <gtest/gtest.h>

#include <string>

#include "services/Text.h"

namespace quavelle {
namespace {

struct RewriteCase {
  std::u16string path, drive, current, typed;
  bool matches;
  std::u16string newDrive, newPath;  // only when it matches
};

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
    RewriteCase{u"c:\\Data\\plan.doc", u"C:", u"c:", u"x:", true, u"x:", u"x:\\Data\\plan.doc"},
    RewriteCase{u"E:\\x.doc", u"E:", u"C:", u"D:", false, u"", u""},
    RewriteCase{u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj", u"\\\\srv1", u"\\\\srv2", true, u"\\\\srv2\\proj", u"\\\\srv2\\proj\\a.doc"},
    RewriteCase{u"\\\\ab\\ab\\x.doc", u"\\\\ab\\ab", u"ab", u"cd", true, u"\\\\cd\\ab", u"\\\\cd\\ab\\x.doc"},
    RewriteCase{u"C:\\old\\C:\\c:x.doc", u"C:", u"C:", u"D:", true, u"D:", u"D:\\old\\C:\\c:x.doc"},
    RewriteCase{u"relative\\x.doc", u"", u"", u"D:", false, u"", u""},
    RewriteCase{u"C:\\x.doc", u"C:", u"", u"D:", true, u"C:", u"C:\\x.doc"},
    RewriteCase{u"\\\\Srv\u00C9\\p\\x", u"\\\\Srv\u00C9\\p", u"srv\u00E9", u"n", true, u"\\\\n\\p", u"\\\\n\\p\\x"},
    // surrogate pairs: whole ones match, halves never do
    RewriteCase{u"\\\\s\U0001F600\\p\\\U0001F600.doc", u"\\\\s\U0001F600\\p", u"s\U0001F600", u"t\U0001F601", true, u"\\\\t\U0001F601\\p", u"\\\\t\U0001F601\\p\\\U0001F600.doc"},
    RewriteCase{u"\\\\\U0001F600\\p\\x", u"\\\\\U0001F600\\p", std::u16string(1, char16_t{0xDE00}), u"x", false, u"", u""},
    RewriteCase{u"\\\\\U0001F600\\p\\x", u"\\\\\U0001F600\\p", std::u16string(1, char16_t{0xD83D}), u"x", false, u"", u""}
));
// clang-format on

}  // namespace
}  // namespace quavelle
