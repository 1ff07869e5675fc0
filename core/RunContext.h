#pragma once

#include <string>

#include "core/ResultsList.h"
#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "services/WalkGuard.h"

namespace quavelle {

// What a run takes from the window that starts it.
struct RunContext {
  std::u16string OldDrive;  // "Current Path:" as typed
  std::u16string NewDrive;  // "New path:" as typed
  DocumentServer& objDocServer;
  FileSystemService& objFSO;
  ResultsList& results;
  WalkGuard& visited;  // one per run
};

}  // namespace quavelle
