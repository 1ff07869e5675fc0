#include "services/docserver/BuiltinDocumentServer.h"

#include "services/docserver/BuiltinDocument.h"
#include "services/docserver/DocumentKinds.h"
#include "services/docserver/DocumentState.h"

namespace quavelle {
namespace {

class BuiltinDocumentServer : public DocumentServer {
 public:
  explicit BuiltinDocumentServer(docserver::ServerOptions options) : options_(std::move(options)) {}

  // The kind is decided by the file name, so a walk over other files costs no I/O.
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    std::unique_ptr<docserver::DocumentContent> content =
        docserver::ContentForFileName(path, options_);
    if (!content) return std::make_unique<docserver::PlainDocument>(path);
    return std::make_unique<docserver::BuiltinDocument>(
        std::make_shared<docserver::DocumentState>(path, std::move(content), options_));
  }

 private:
  docserver::ServerOptions options_;
};

}  // namespace

std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer() {
  return CreateBuiltinDocumentServer(docserver::ServerOptions{});
}

std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer(docserver::ServerOptions options) {
  return std::make_unique<BuiltinDocumentServer>(std::move(options));
}

}  // namespace quavelle
