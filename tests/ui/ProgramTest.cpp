#include <gtest/gtest.h>

#include <set>
#include <string>

#include "TestServices.h"
#include "ui/Program.h"

namespace quavelle::test {
namespace {

TEST(ProgramTest, ServiceThatCannotBeCreatedIsReportedAndEndsTheProgramWithFailure) {
  ServiceSource source = MakeTestServices().source;
  source.createDocumentServer = [](const std::u16string& id) -> std::unique_ptr<DocumentServer> {
    throw ServiceError(429, u"Cannot create object '" + id + u"'");
  };
  std::vector<std::u16string> reported;
  const int status = StartProgram(source, [&](QWidget*, const ServiceError& failure) {
    reported.push_back(failure.description());
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(reported, std::vector<std::u16string>{u"Cannot create object 'Morvane.Application'"});
}

struct DisplayCase {
  std::set<std::string> set;
  bool available;
};

class DisplayAvailableTest : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayAvailableTest, NeedsADisplayOrANamedPlatform) {
  const auto& [set, available] = GetParam();
  EXPECT_EQ(DisplayAvailable([&](const char* name) { return set.contains(name); }), available);
}

INSTANTIATE_TEST_SUITE_P(Environments, DisplayAvailableTest,
                         testing::Values(DisplayCase{{}, false}, DisplayCase{{"HOME"}, false},
                                         DisplayCase{{"DISPLAY"}, true},
                                         DisplayCase{{"WAYLAND_DISPLAY"}, true},
                                         DisplayCase{{"QT_QPA_PLATFORM"}, true}));

}  // namespace
}  // namespace quavelle::test
