#include "services/docserver/BuiltinDocumentServer.h"

#include "services/ServiceError.h"

namespace quavelle {

// Placeholder until the package reader and writer land.
std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer() {
  throw ServiceError(error_number::kCannotCreateObject, u"The built-in document server is not built yet");
}

}  // namespace quavelle
