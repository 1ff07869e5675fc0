#include "services/Text.h"

#include <gtest/gtest.h>

namespace quavelle {
namespace {

TEST(Text, Utf8RoundTripsEveryPlane) {
  const std::u16string text = u"C:\\Daten\\Übersicht 样板间 \U0001F600.docx";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"\u00e9"), "\xC3\xA9");
}

TEST(Text, IllFormedInputBecomesReplacementCharacter) {
  EXPECT_EQ(FromUtf8(std::string_view("a\xFF" "b")), u"a\uFFFDb");
  EXPECT_EQ(FromUtf8(std::string_view("\xC0\xAF")), u"\uFFFD\uFFFD");  // overlong '/'
  EXPECT_EQ(FromUtf8(std::string_view("\xED\xA0\x80")), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(FromUtf8(std::string_view("\xE2\x82")), u"\uFFFD\uFFFD");  // cut short
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(Text, NativePathsRoundTripWhateverTheirBytes) {
  for (const std::string& bytes : {std::string("plain/name.docx"), std::string("caf\xC3\xA9"),
                                  std::string("latin1-caf\xE9"), std::string("\xFF\xFE\x80"),
                                  std::string("\xED\xB2\x80"), std::string("cut\xE2\x82")}) {
    EXPECT_EQ(TextToNativePath(NativePathToText(bytes)), bytes);
  }
  EXPECT_EQ(NativePathToText("caf\xE9"), u"caf\xDCE9");
}

TEST(Text, FoldCaseFoldsAsciiLetters) {
  EXPECT_EQ(FoldCase(u'Q'), u'q');
  EXPECT_EQ(FoldCase(u'q'), u'q');
  EXPECT_EQ(FoldCase(u'\\'), u'\\');
  EXPECT_EQ(FoldCase(u'@'), u'@');
}

}  // namespace
}  // namespace quavelle
