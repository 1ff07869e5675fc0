#include "services/docserver/BuiltinDocumentServer.h"

#include "services/docserver/PackageDocument.h"
#include "services/docserver/PackageFormat.h"
#include "services/docserver/PackageState.h"

namespace quavelle {
namespace {

class BuiltinDocumentServer : public DocumentServer {
 public:
  explicit BuiltinDocumentServer(docserver::ServerOptions options) : options_(std::move(options)) {
    if (!options_.folders) options_.folders = std::make_shared<docserver::FolderDescriptors>();
  }

  // Decided by the file name alone, so a walk over other files costs no I/O.
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    std::unique_ptr<docserver::PackageFormat> format = docserver::PackageFormatForFileName(path);
    if (!format) return std::make_unique<docserver::PlainDocument>(path);
    return std::make_unique<docserver::PackageDocument>(
        std::make_shared<docserver::PackageState>(path, std::move(format), options_));
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
