#include "services/filesystem/NativeText.h"

#include <gtest/gtest.h>

#include <string>

#include "services/Text.h"

namespace quavelle {
namespace {

// Every length up to three blocks of four units, with one unit swapped in at
// every position: the fast path checks units four at a time.
struct Odd {
  char16_t unit;
  bool hasNativeForm;
};

class TextToNativeAtEveryPosition : public ::testing::TestWithParam<Odd> {};

TEST_P(TextToNativeAtEveryPosition, AgreesWithTheFullConversion) {
  for (std::size_t length = 1; length <= 12; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      std::u16string text(length, u'a');
      text[at] = GetParam().unit;
      std::string native = "left over";
      const bool converted = TextToNativePathExactly(text, native);
      EXPECT_EQ(converted, GetParam().hasNativeForm) << length << " " << at;
      if (converted) {
        EXPECT_EQ(native, TextToNativePath(text)) << length << " " << at;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TextToNativeAtEveryPosition,
                         ::testing::Values(Odd{u'\0', false}, Odd{u'\x01', true},
                                           Odd{u'\x7F', true}, Odd{u'\x80', true},
                                           Odd{u'\xE9', true}, Odd{u'\x100', true},
                                           Odd{u'\x4100', true}, Odd{u'\xDCE9', true},
                                           Odd{u'\xDFFF', false}, Odd{u'\xD800', false}));

}  // namespace
}  // namespace quavelle
