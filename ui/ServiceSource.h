#pragma once

#include <functional>
#include <memory>
#include <string>

#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "services/WalkGuard.h"

namespace quavelle {

// Where the main window gets its service objects: each created from its
// programmatic identifier, and a fresh walk record for every run.
struct ServiceSource {
  std::function<std::unique_ptr<DocumentServer>(const std::u16string& progId)> createDocumentServer;
  std::function<std::unique_ptr<FileSystemService>(const std::u16string& progId)> createFileSystem;
  std::function<std::unique_ptr<WalkGuard>()> createWalkGuard;
};

// The program's own source: the service factory.
ServiceSource FactoryServices();

}  // namespace quavelle
