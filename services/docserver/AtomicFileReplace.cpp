#include "services/docserver/AtomicFileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "services/PathText.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/TempFile.h"

namespace quavelle::docserver {
namespace {

int Fault(const FaultHook& hook, ReplaceStep step) { return hook ? hook(step) : 0; }

// Extended attributes hold access control lists and what file servers keep
// about a file (DOS attributes, foreign ACLs); a replacement without them
// would change who may read the document. Gives 0 or an errno value.
int CopyExtendedAttributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0) return (errno == ENOTSUP) ? 0 : errno;
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::flistxattr(from, names.data(), names.size());
  if (size < 0) return errno;
  names.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < names.size();) {
    std::size_t end = names.find('\0', at);
    if (end == std::string::npos) end = names.size();
    const std::string name = names.substr(at, end - at);
    at = end + 1;
    ssize_t length = ::fgetxattr(from, name.c_str(), nullptr, 0);
    if (length < 0) return errno;
    std::string value(static_cast<std::size_t>(length), '\0');
    length = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    if (length < 0) return errno;
    value.resize(static_cast<std::size_t>(length));
    // A value the new file has already (a label its folder gave it) is not set again.
    std::string present(value.size(), '\0');
    if (::fgetxattr(to, name.c_str(), present.data(), present.size()) == length &&
        present == value) {
      continue;
    }
    if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return errno;
  }
  return 0;
}

}  // namespace

Replacement ReplaceFileAtomically(const std::string& realPath, int originalFd,
                                  const FileIdentity& original, const std::u16string& displayPath,
                                  const FaultHook& faultHook,
                                  const std::function<void(int fd)>& write) {
  // realPath is absolute, so it always names a folder.
  const std::string folder(FolderOf(std::string_view(realPath)));
  if (int fault = Fault(faultHook, ReplaceStep::CreateTemp)) {
    throw ErrnoError(fault, u"Cannot write", displayPath);
  }
  TempFile temp(folder, displayPath);
  write(temp.fd());

  // Owner first: changing it clears set-id bits that the mode then restores.
  // Without privilege this works only for one's own file and group; a file
  // taken over by whoever re-pointed its links would change who may use it.
  if (::fchown(temp.fd(), original.owner, original.group) != 0) {
    throw ErrnoError(errno, u"Cannot keep the owner and group of", displayPath);
  }
  if (::fchmod(temp.fd(), original.mode) != 0) {
    throw ErrnoError(errno, u"Cannot write", displayPath);
  }
  if (int error = CopyExtendedAttributes(originalFd, temp.fd())) {
    throw ErrnoError(error, u"Cannot keep the extended attributes (access lists) of", displayPath);
  }

  // After the attributes, so that they are flushed with the data.
  int fault = Fault(faultHook, ReplaceStep::Sync);
  if (fault == 0 && ::fsync(temp.fd()) != 0) fault = errno;
  if (fault != 0) throw ErrnoError(fault, u"Cannot write", displayPath);

  // Writing a large package takes a while; whoever saved the document in
  // that time keeps their version. What remains is the gap to the rename.
  UnchangedIdentity(realPath, original, displayPath);

  fault = Fault(faultHook, ReplaceStep::Rename);
  if (fault == 0 && ::rename(temp.path().c_str(), realPath.c_str()) != 0) fault = errno;
  if (fault != 0) throw ErrnoError(fault, u"Cannot write", displayPath);
  Replacement replaced{temp.Release()};

  // Makes the rename itself survive a crash. File systems that cannot flush
  // a folder say EINVAL; the new content is already flushed then.
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  fault = Fault(faultHook, ReplaceStep::FolderSync);
  if (fault == 0 && dir && ::fsync(dir.get()) != 0 && errno != EINVAL) fault = errno;
  replaced.folderFlushError = fault;
  return replaced;
}

}  // namespace quavelle::docserver
