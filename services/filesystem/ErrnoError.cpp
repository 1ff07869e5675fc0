#include "services/filesystem/ErrnoError.h"

#include <cerrno>

namespace quavelle {

bool NamesNothing(int err) noexcept {
  return err == ENOENT || err == ENOTDIR || err == ELOOP || err == ENAMETOOLONG;
}

ServiceError ErrnoError(int err) {
  if (NamesNothing(err)) return ServiceError(error_number::kPathNotFound, u"Path not found");
  if (err == EACCES || err == EPERM) {
    return ServiceError(error_number::kPermissionDenied, u"Permission denied");
  }
  return ServiceError(error_number::kPathFileAccessError, u"Path/File access error");
}

}  // namespace quavelle
