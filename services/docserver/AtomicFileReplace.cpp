#include "services/docserver/AtomicFileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "services/docserver/ErrnoError.h"
#include "services/docserver/TempFile.h"

namespace quavelle::docserver {
namespace {

int Fault(const FaultHook& hook, ReplaceStep step) { return hook ? hook(step) : 0; }

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

UniqueFd ReplaceFileAtomically(const std::string& realPath, const FileIdentity& original,
                               const std::u16string& displayPath, const FaultHook& faultHook,
                               const std::function<void(int fd)>& write) {
  const std::string folder = FolderOf(realPath);
  if (int fault = Fault(faultHook, ReplaceStep::CreateTemp)) {
    throw ErrnoError(fault, u"Cannot write", displayPath);
  }
  TempFile temp(folder, displayPath);
  write(temp.fd());

  int fault = Fault(faultHook, ReplaceStep::Sync);
  if (fault == 0 && ::fsync(temp.fd()) != 0) fault = errno;
  if (fault != 0) throw ErrnoError(fault, u"Cannot write", displayPath);
  // Owner first: changing it clears set-id bits that the mode then restores.
  if (::geteuid() == 0 && ::fchown(temp.fd(), original.owner, original.group) != 0) {
    throw ErrnoError(errno, u"Cannot write", displayPath);
  }
  if (::fchmod(temp.fd(), original.mode) != 0)
    throw ErrnoError(errno, u"Cannot write", displayPath);

  fault = Fault(faultHook, ReplaceStep::Rename);
  if (fault == 0 && ::rename(temp.path().c_str(), realPath.c_str()) != 0) fault = errno;
  if (fault != 0) throw ErrnoError(fault, u"Cannot write", displayPath);
  UniqueFd replaced = temp.Release();

  // Makes the rename itself survive a crash. File systems that cannot flush
  // a folder say EINVAL; the new content is already flushed then.
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir && ::fsync(dir.get()) != 0 && errno != EINVAL) {
    throw ErrnoError(errno, u"Cannot flush the folder of", displayPath);
  }
  return replaced;
}

}  // namespace quavelle::docserver
