#include <gtest/gtest.h>

#include <string>

#include "ui/Program.h"

namespace quavelle {
namespace {

TEST(ProgramTest, ServiceThatCannotBeCreatedIsReportedAndEndsTheProgramWithFailure) {
  ServiceSource source = FactoryServices();
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

// Without any display the program ends with a message: quavelle_without_display.
TEST(ProgramTest, PlatformTheTestsRunOnCountsAsADisplay) { EXPECT_TRUE(DisplayAvailable()); }

}  // namespace
}  // namespace quavelle
