#pragma once

#include <functional>
#include <string>

#include "services/UniqueFd.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/ServerOptions.h"

namespace quavelle::docserver {

// Replaces the regular file at realPath (no symbolic link on the last step)
// with what write puts into a temporary file beside it: given the original's
// owner, group, permission bits and extended attributes (access lists; read
// from originalFd and original), flushed, renamed over it, and the folder
// flushed. When any of these cannot be kept the original stays as it was.
// A file at realPath that no longer has original's identity is not replaced
// (1008). Before the rename any failure removes the temporary file and leaves
// the original as it was; once renamed, the new file is in place whatever
// the folder flush gives.
struct Replacement {
  UniqueFd file;             // the new file, open for reading
  int folderFlushError = 0;  // errno of a failed folder flush after the rename
};
Replacement ReplaceFileAtomically(const std::string& realPath, int originalFd,
                                  const FileIdentity& original, const std::u16string& displayPath,
                                  const FaultHook& faultHook,
                                  const std::function<void(int fd)>& write);

}  // namespace quavelle::docserver
