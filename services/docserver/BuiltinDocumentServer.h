#pragma once

#include <memory>

#include "services/DocumentServer.h"

namespace quavelle {

// The document server for platforms without automation: lists and re-points
// the file links of Office Open XML and OpenDocument packages.
std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer();

}  // namespace quavelle
