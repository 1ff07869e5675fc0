#pragma once

#include <memory>

#include "services/DocumentServer.h"

namespace quavelle::docserver {

class DocumentState;

// A file opened as a document. It and every link object it hands out share
// one state, so a link stays valid after another link of it is re-pointed.
// An enumeration of the links that reaches its end writes what was re-pointed
// during it; the call that ends it reports a failed write.
class BuiltinDocument : public Document {
 public:
  explicit BuiltinDocument(std::shared_ptr<DocumentState> state) : state_(std::move(state)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override;
  std::u16string FullName() override;

 private:
  std::shared_ptr<DocumentState> state_;
};

// A file of no kind the server knows: a document without links.
class PlainDocument : public Document {
 public:
  explicit PlainDocument(std::u16string path) : path_(std::move(path)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
  std::u16string FullName() override { return path_; }

 private:
  std::u16string path_;
};

}  // namespace quavelle::docserver
