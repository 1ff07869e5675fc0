#pragma once

#include <memory>

#include "services/DocumentServer.h"

namespace quavelle::docserver {

class PackageState;

// A package opened as a document. It and every link object it hands out share
// one state, so a link stays valid after another link of it is re-pointed.
class PackageDocument : public Document {
 public:
  explicit PackageDocument(std::shared_ptr<PackageState> state) : state_(std::move(state)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override;
  std::u16string FullName() override;

 private:
  std::shared_ptr<PackageState> state_;
};

// A file that is no package: a document without links.
class PlainDocument : public Document {
 public:
  explicit PlainDocument(std::u16string path) : path_(std::move(path)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
  std::u16string FullName() override { return path_; }

 private:
  std::u16string path_;
};

}  // namespace quavelle::docserver
