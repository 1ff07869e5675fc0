#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quavelle {

// The one failure of a service call: the number and description the service gave.
// Nothing below the window's event procedures catches it.
class ServiceError : public std::runtime_error {
 public:
  ServiceError(std::int32_t number, std::u16string description);

  std::int32_t number() const noexcept { return number_; }
  const std::u16string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::u16string description_;
};

// Numbers shared by every implementation, as scripting users know them.
namespace error_number {
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kDiskFull = 61;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccessError = 75;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kCannotCreateObject = 429;
}  // namespace error_number

}  // namespace quavelle
