#pragma once

#include <memory>
#include <string_view>

#include "services/docserver/DocumentContent.h"
#include "services/docserver/ServerOptions.h"

namespace quavelle::docserver {

// The content for the kind of file a name's extension announces (case
// ignored), or nullptr for a file that holds no links the server knows.
std::unique_ptr<DocumentContent> ContentForFileName(std::u16string_view path,
                                                    const ServerOptions& options);

}  // namespace quavelle::docserver
