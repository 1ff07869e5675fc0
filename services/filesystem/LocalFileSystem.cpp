#include "services/filesystem/LocalFileSystem.h"

#include "services/ServiceError.h"

namespace quavelle {

// Placeholder until the std::filesystem implementation lands.
std::unique_ptr<FileSystemService> CreateLocalFileSystem() {
  throw ServiceError(error_number::kCannotCreateObject, u"The file-system service is not built yet");
}

}  // namespace quavelle
