#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "services/docserver/BackgroundCloser.h"
#include "services/docserver/FolderDescriptors.h"

namespace quavelle::docserver {

// The steps of writing a new package, in order; a fault hook may fail any of them.
enum class ReplaceStep {
  CreateTemp,  // the temporary file beside the document
  Write,       // each write of package bytes
  Sync,        // flushing the temporary file
  Rename,      // putting it in place of the document
  FolderSync,  // flushing the folder after the rename
};

// Returns 0 to let the step run, or an errno value to fail it with.
using FaultHook = std::function<int(ReplaceStep)>;

struct ServerOptions {
  // No part is inflated past this many bytes.
  std::uint64_t maxPartSize = std::uint64_t{256} << 20;
  FaultHook faultHook;
  // Folders held open between documents for flushing; the server makes one
  // for its documents to share when none is given.
  std::shared_ptr<FolderDescriptors> folders;
  // Where documents that were only read are closed, when not by the thread
  // that lets go of them.
  std::shared_ptr<BackgroundCloser> closer;
  // Documents of the current folder opened and listed ahead of the walk, and
  // the threads that do it; 0 reads each document only when it is opened.
  // Only on network and user-space file systems, unless everywhere is set.
  std::size_t readAheadDepth = 16;
  unsigned readAheadThreads = 8;
  bool readAheadEverywhere = false;
};

}  // namespace quavelle::docserver
