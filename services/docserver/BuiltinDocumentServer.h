#pragma once

#include <memory>

#include "services/DocumentServer.h"
#include "services/docserver/ServerOptions.h"

namespace quavelle {

// The document server for platforms without automation: lists and re-points
// the file links of Office Open XML and OpenDocument packages.
std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer();

// The same with other bounds, or with a fault hook for failure paths.
std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer(docserver::ServerOptions options);

}  // namespace quavelle
