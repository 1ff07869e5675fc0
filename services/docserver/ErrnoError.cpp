#include "services/docserver/ErrnoError.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver {
namespace {

std::int32_t NumberFor(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return error_number::kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return error_number::kPermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return error_number::kDiskFull;
    default:
      return error_number::kPathFileAccessError;
  }
}

}  // namespace

ServiceError ErrnoError(int error, std::u16string_view action, std::u16string_view path) {
  std::u16string text(action);
  text += u" '";
  text += path;
  text += u"': ";
  text += FromUtf8(std::string_view(std::strerror(error)));
  return ServiceError(NumberFor(error), std::move(text));
}

}  // namespace quavelle::docserver
