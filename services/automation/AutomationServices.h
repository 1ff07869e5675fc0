#pragma once

#include <memory>
#include <string>

#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "services/WalkGuard.h"

// Windows: the service objects reached through automation, late-bound by member name.
namespace quavelle {

std::unique_ptr<FileSystemService> CreateAutomationFileSystem(const std::u16string& progId);
std::unique_ptr<DocumentServer> CreateAutomationDocumentServer(const std::u16string& progId);
std::unique_ptr<WalkGuard> CreateAutomationWalkGuard();

}  // namespace quavelle
