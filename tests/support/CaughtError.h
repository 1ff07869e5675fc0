#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle::testing {

// The ServiceError that action throws; none when it throws none.
inline std::optional<ServiceError> CaughtError(const std::function<void()>& action) {
  try {
    action();
  } catch (const ServiceError& error) {
    return error;
  }
  return std::nullopt;
}

// The number of the ServiceError that action throws, or 0.
inline std::int32_t ErrorNumber(const std::function<void()>& action) {
  const std::optional<ServiceError> error = CaughtError(action);
  return error ? error->number() : 0;
}

// Whether error is there, with number and a description that names document.
inline ::testing::AssertionResult IsErrorNaming(const std::optional<ServiceError>& error,
                                                std::int32_t number,
                                                const std::u16string& document) {
  if (!error) return ::testing::AssertionFailure() << "no failure";
  if (error->number() != number || error->description().find(document) == std::u16string::npos) {
    return ::testing::AssertionFailure() << error->number() << " " << ToUtf8(error->description());
  }
  return ::testing::AssertionSuccess();
}

// Whether action fails with number and a description that names document.
inline ::testing::AssertionResult FailsNaming(std::int32_t number, const std::u16string& document,
                                              const std::function<void()>& action) {
  return IsErrorNaming(CaughtError(action), number, document);
}

}  // namespace quavelle::testing
