#include "services/ServiceFactory.h"

#include <gtest/gtest.h>

#include "services/ServiceError.h"

namespace quavelle {
namespace {

TEST(ServiceFactory, UnknownIdentifierFailsWithCannotCreateObject) {
  try {
    CreateObject(u"No.Such.Thing");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kCannotCreateObject);
    EXPECT_NE(e.description().find(u"No.Such.Thing"), std::u16string::npos);
  }
}

}  // namespace
}  // namespace quavelle
