#include "services/automation/AutomationError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "services/Text.h"

namespace quavelle {
namespace {

struct NumberCase {
  std::uint32_t hresult;
  std::int32_t number;
};
void PrintTo(const NumberCase& c, std::ostream* out) {
  *out << std::hex << "0x" << c.hresult << " -> " << std::dec << c.number;
}

class ErrorNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ErrorNumbers, AreThePlainNumberInTheScriptingRangeAndTheHresultElsewhere) {
  EXPECT_EQ(ErrorNumberFor(static_cast<std::int32_t>(GetParam().hresult)), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    AutomationError, ErrorNumbers,
    ::testing::Values(NumberCase{0x800A004C, 76}, NumberCase{0x800A0046, 70},
                      NumberCase{0x800A01AD, 429}, NumberCase{0x800AFFFF, 0xFFFF},
                      NumberCase{0x80070005, static_cast<std::int32_t>(0x80070005)},
                      NumberCase{0x80020006, static_cast<std::int32_t>(0x80020006)},
                      NumberCase{0x800B004C, static_cast<std::int32_t>(0x800B004C)},
                      NumberCase{0x000A004C, 0x000A004C}));

TEST(AutomationError, ScriptingErrorsReadAsTheRuntimeWordsThem) {
  EXPECT_EQ(SystemMessage(static_cast<std::int32_t>(0x800A004C)), u"Path not found");
  EXPECT_EQ(SystemMessage(static_cast<std::int32_t>(0x800A0046)), u"Permission denied");
  EXPECT_EQ(ToUtf8(SystemMessage(static_cast<std::int32_t>(0x800A7FF0))),
            "Automation error 0x800A7FF0");
}

TEST(AutomationError, SystemMessagesCarryNoLineBreak) {
  const std::u16string text = SystemMessage(static_cast<std::int32_t>(0x80070002));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of(u"\r\n"), std::u16string::npos) << ToUtf8(text);
  EXPECT_NE(text.back(), u' ');
}

}  // namespace
}  // namespace quavelle
