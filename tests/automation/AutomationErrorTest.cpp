#include "services/automation/AutomationError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "services/Text.h"

namespace quavelle {
namespace {

struct ErrorCase {
  std::uint32_t hresult;
  std::int32_t number;
  const char* text;  // null: the system's own wording, on one line
};
void PrintTo(const ErrorCase& c, std::ostream* out) { *out << std::hex << "0x" << c.hresult; }

class Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, KeepTheirPlainNumberInTheScriptingRangeAndTheirHresultElsewhere) {
  const auto hresult = static_cast<std::int32_t>(GetParam().hresult);
  EXPECT_EQ(ErrorNumberFor(hresult), GetParam().number);
  const std::string text = ToUtf8(SystemMessage(hresult));
  if (GetParam().text != nullptr) {
    EXPECT_EQ(text, GetParam().text);
  } else {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), ' ');
  }
}

INSTANTIATE_TEST_SUITE_P(
    AutomationError, Errors,
    ::testing::Values(ErrorCase{0x800A004C, 76, "Path not found"},
                      ErrorCase{0x800A01AD, 429, "Can't create object"},
                      ErrorCase{0x800A7FF0, 0x7FF0, "Automation error 0x800A7FF0"},
                      ErrorCase{0x80070002, static_cast<std::int32_t>(0x80070002), nullptr},
                      ErrorCase{0x800B004C, static_cast<std::int32_t>(0x800B004C), nullptr},
                      ErrorCase{0x000A004C, 0x000A004C, nullptr}));

}  // namespace
}  // namespace quavelle
