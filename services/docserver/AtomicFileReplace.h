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
// from originalFd and original), flushed, closed, renamed over it once
// closeOriginal has closed every descriptor of the original (a file server
// will not replace an open file; user-space clients move an open target
// aside first, so that the rename is not atomic), and the
// folder flushed (through options.folders when given). When any of these
// cannot be kept the original stays as it was; a file system that keeps no
// extended attributes has none to keep. A file at realPath that no longer has
// original's identity is not replaced (1008). Before the rename any failure
// removes the temporary file and leaves the original as it was; when the file
// system refuses to remove it, the error names it. Once renamed, the new file
// is in place whatever the folder flush gives.
struct Replacement {
  UniqueFd file;             // the new file, open for reading
  int folderFlushError = 0;  // errno of a failed folder flush after the rename
};
Replacement ReplaceFileAtomically(const std::string& realPath, int originalFd,
                                  const FileIdentity& original, const std::u16string& displayPath,
                                  const ServerOptions& options,
                                  const std::function<void(int fd)>& write,
                                  const std::function<void()>& closeOriginal);

}  // namespace quavelle::docserver
