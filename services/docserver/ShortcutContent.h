#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "services/docserver/DocumentContent.h"

namespace quavelle::docserver {

// The content for a shortcut file by its name's extension (".lnk" or ".url",
// any case, with or without the dot); nullptr for any other extension.
std::unique_ptr<DocumentContent> ShortcutContentForExtension(std::u16string_view extension,
                                                             std::u16string documentPath);

}  // namespace quavelle::docserver
