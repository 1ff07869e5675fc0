#pragma once

#include <string>
#include <string_view>

#include "services/ServiceError.h"
#include "services/docserver/DocServerErrors.h"

// The failures shortcut files share, each naming the document.
namespace quavelle::docserver {

inline ServiceError DamagedShortcut(const std::u16string& document, std::u16string_view what) {
  return ServiceError(error_number::kDamagedPackage,
                      u"The shortcut '" + document + u"' is damaged: " + std::u16string(what));
}

inline ServiceError UnwritableTarget(const std::u16string& document, std::u16string_view what) {
  return ServiceError(
      error_number::kUnwritablePath,
      u"The link in '" + document + u"' cannot be re-pointed: " + std::u16string(what));
}

inline ServiceError TargetDoesNotFit(const std::u16string& document, std::u16string_view what) {
  return ServiceError(
      error_number::kDoesNotFit,
      u"The link in '" + document + u"' cannot be re-pointed: " + std::u16string(what));
}

}  // namespace quavelle::docserver
