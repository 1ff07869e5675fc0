#include "services/filesystem/DriveName.h"

#include "services/PathText.h"

namespace quavelle {

std::u16string DriveNameOf(std::u16string_view path) {
  return std::u16string(path.substr(0, DriveNameLength(path)));
}

}  // namespace quavelle
