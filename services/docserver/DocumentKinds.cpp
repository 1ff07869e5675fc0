#include "services/docserver/DocumentKinds.h"

#include <string>

#include "services/docserver/PackageContent.h"
#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

std::unique_ptr<DocumentContent> ContentForFileName(std::u16string_view path,
                                                    const ServerOptions& options) {
  if (std::unique_ptr<PackageFormat> format = PackageFormatForFileName(path)) {
    return std::make_unique<PackageContent>(std::u16string(path), std::move(format), options);
  }
  return nullptr;
}

}  // namespace quavelle::docserver
