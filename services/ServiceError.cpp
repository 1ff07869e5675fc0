#include "services/ServiceError.h"

#include <utility>

#include "services/Text.h"

namespace quavelle {

ServiceError::ServiceError(std::int32_t number, std::u16string description)
    : std::runtime_error(ToUtf8(description)), number_(number), description_(std::move(description)) {}

}  // namespace quavelle
