#include "services/automation/AutomationError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

#include "services/Text.h"

namespace quavelle {
namespace {

// HRESULT, number, text (empty: the system's own wording, on one line).
class Errors
    : public ::testing::TestWithParam<std::tuple<std::uint32_t, std::int32_t, const char*>> {};

TEST_P(Errors, KeepTheirPlainNumberInTheScriptingRangeAndTheirHresultElsewhere) {
  const auto [hresult, number, expected] = GetParam();
  EXPECT_EQ(ErrorNumberFor(static_cast<std::int32_t>(hresult)), number);
  const std::string text = ToUtf8(SystemMessage(static_cast<std::int32_t>(hresult)));
  if (*expected != '\0') {
    EXPECT_EQ(text, expected);
  } else {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), ' ');
  }
}

INSTANTIATE_TEST_SUITE_P(
    AutomationError, Errors,
    ::testing::Values(std::tuple{0x800A004Cu, 76, "Path not found"},
                      std::tuple{0x800A7FF0u, 0x7FF0, "Automation error 0x800A7FF0"},
                      std::tuple{0x80070002u, static_cast<std::int32_t>(0x80070002), ""},
                      std::tuple{0x000A004Cu, 0x000A004C, ""}));

}  // namespace
}  // namespace quavelle
