#include "services/Text.h"

#include <gtest/gtest.h>

#include <utility>

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

TEST(Text, FoldCaseFollowsUnicodeSimpleFolding) {
  const std::pair<char16_t, char16_t> folds[] = {
      {u'Q', u'q'},
      {u'q', u'q'},
      {u'@', u'@'},                          // just before A
      {u'[', u'['},                          // just after Z
      {u'\u00C9', u'\u00E9'},                // É
      {u'\u00D7', u'\u00D7'},                // × sits between Latin-1 capitals
      {u'\u0178', u'\u00FF'},                // Ÿ, far from its small letter
      {u'\u0100', u'\u0101'},                // alternating capital/small pairs
      {u'\u012F', u'\u012F'},                // small of such a pair stays
      {u'\u0401', u'\u0451'},                // Ё
      {u'\u0416', u'\u0436'},                // Ж
      {u'\u03A3', u'\u03C3'},                // Σ
      {u'\u03C2', u'\u03C3'},                // final ς folds with σ
      {u'\u212A', u'k'},                     // Kelvin sign
      {u'\u1E9E', u'\u00DF'},                // capital sharp s
      {u'\u00DF', u'\u00DF'},                // ß folds only to two letters
      {u'\u0130', u'\u0130'},                // dotted İ has no one-unit folding
      {u'\uA78D', u'\u0265'},                // offset wraps below zero
      {u'\uFF21', u'\uFF41'},                // fullwidth A, in the last range
      {u'\uFF3B', u'\uFF3B'},                // just past it
      {char16_t{0xD801}, char16_t{0xD801}},  // surrogates are never folded
  };
  for (const auto& [unit, folded] : folds) {
    EXPECT_EQ(FoldCase(unit), folded) << std::hex << static_cast<int>(unit);
  }
}

TEST(Text, FoldCaseIsIdempotentOverTheWholeBmp) {
  for (char32_t u = 0; u <= 0xFFFF; ++u) {
    const char16_t folded = FoldCase(static_cast<char16_t>(u));
    ASSERT_EQ(FoldCase(folded), folded) << std::hex << static_cast<int>(u);
  }
}

}  // namespace
}  // namespace quavelle
