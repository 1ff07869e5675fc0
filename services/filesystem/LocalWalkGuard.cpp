#include "services/filesystem/LocalWalkGuard.h"

#include "services/ServiceError.h"

namespace quavelle {

// Placeholder until the device-and-inode record lands.
std::unique_ptr<WalkGuard> CreateLocalWalkGuard() {
  throw ServiceError(error_number::kCannotCreateObject, u"The walk record is not built yet");
}

}  // namespace quavelle
