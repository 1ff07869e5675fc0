#include "services/docserver/AtomicFileReplace.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <initializer_list>
#include <utility>
#include <vector>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/BusyRetry.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/TempFile.h"

namespace quavelle::docserver {
namespace {

int Fault(const FaultHook& hook, ReplaceStep step) { return hook ? hook(step) : 0; }

// How file systems and network clients say they keep no extended attributes:
// some user-space clients answer EIO for every such call.
bool KeepsNoAttributes(int error) {
  return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS || error == EIO;
}

// How clients say they do not pass a flush on to their server.
bool FlushNotPassedOn(int error) {
  return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// Whether the file system may hold extended attributes at all. Asked by name
// first: a name a file system does not know is refused at once, while a client
// that cannot list them may fail the listing in ways that hurt (one drops its
// server connection for seconds).
bool MayHoldAttributes(int fd) {
  for (const char* name : {"user.qv-probe", "system.posix_acl_access"}) {
    if (::fgetxattr(fd, name, nullptr, 0) >= 0 || !KeepsNoAttributes(errno)) return true;
  }
  return false;
}

// Extended attributes hold access control lists and what file servers keep
// about a file (DOS attributes, foreign ACLs); a replacement without them
// would change who may read the document. What cannot be read is not there
// to keep.
struct ExtendedAttributes {
  int error = 0;  // errno of a failed read
  std::vector<std::pair<std::string, std::string>> values;
};

ExtendedAttributes ReadExtendedAttributes(int from) {
  ExtendedAttributes out;
  if (!MayHoldAttributes(from)) return out;
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0) {
    if (!KeepsNoAttributes(errno)) out.error = errno;
    return out;
  }
  if (size == 0) return out;
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::flistxattr(from, names.data(), names.size());
  if (size < 0) {
    out.error = errno;
    return out;
  }
  names.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < names.size();) {
    std::size_t end = names.find('\0', at);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(at, end - at);
    at = end + 1;
    ssize_t length = ::fgetxattr(from, name.c_str(), nullptr, 0);
    if (length < 0) {
      if (errno == ENODATA || KeepsNoAttributes(errno)) continue;
      out.error = errno;
      return out;
    }
    std::string value(static_cast<std::size_t>(length), '\0');
    length = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    if (length < 0) {
      out.error = errno;
      return out;
    }
    value.resize(static_cast<std::size_t>(length));
    out.values.emplace_back(std::move(name), std::move(value));
  }
  return out;
}

// Gives 0 or an errno value.
int SetExtendedAttributes(const ExtendedAttributes& attributes, int to) {
  if (attributes.error != 0) return attributes.error;
  for (const auto& [name, value] : attributes.values) {
    // A value the new file has already (a label or access list its folder
    // gave it) is not set again.
    std::string present(value.size(), '\0');
    if (::fgetxattr(to, name.c_str(), present.data(), present.size()) ==
            static_cast<ssize_t>(value.size()) &&
        present == value) {
      continue;
    }
    if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return errno;
  }
  return 0;
}

// Where each request is a round trip, the new file is made in memory and
// sent in as few writes as the client takes: a content writer copies and
// writes in many small steps, and some clients ask for the file's
// attributes again before every write.
constexpr std::uint64_t kMostStaged = std::uint64_t{32} << 20;

void WriteStaged(int fd, const std::function<void(int fd)>& write,
                 const std::u16string& displayPath) {
  UniqueFd staged(::memfd_create("quavelle-new-file", MFD_CLOEXEC));
  if (!staged) {
    write(fd);  // no memory file: written directly, only slower
    return;
  }
  write(staged.get());
  const off_t size = ::lseek(staged.get(), 0, SEEK_END);
  if (size < 0) throw ErrnoError(errno, u"Cannot write", displayPath);
  CopyRange(staged.get(), 0, static_cast<std::uint64_t>(size), fd, nullptr, displayPath);
}

// Owner first: changing it clears set-id bits that the mode then restores.
// Without privilege this works only for one's own file and group; a file
// taken over by whoever re-pointed its links would change who may use it.
// Calls that would set what the new file has already are not made.
void KeepOwnerAndMode(int fd, const struct stat& made, const FileIdentity& original,
                      const std::u16string& displayPath) {
  const bool ownerDiffers = made.st_uid != original.owner;
  const bool groupDiffers = made.st_gid != original.group;
  if (ownerDiffers || groupDiffers) {
    if (::fchown(fd, ownerDiffers ? original.owner : static_cast<uid_t>(-1),
                 groupDiffers ? original.group : static_cast<gid_t>(-1)) != 0) {
      throw ErrnoError(errno, u"Cannot keep the owner and group of", displayPath);
    }
  }
  if (ownerDiffers || groupDiffers || (made.st_mode & 07777) != original.mode) {
    if (::fchmod(fd, original.mode) != 0) throw ErrnoError(errno, u"Cannot write", displayPath);
  }
}

// Everything up to and including the rename, in the folder dir; throws with
// the original as it was.
void WriteAndRename(TempFile& temp, int dir, const std::string& name,
                    const std::function<ExtendedAttributes()>& attributes,
                    const FileIdentity& original, const std::u16string& displayPath,
                    const FaultHook& faultHook, const std::function<void(int fd)>& write,
                    const std::function<void()>& closeOriginal, bool roundTrips,
                    struct stat& made) {
  // Before writing, while a network client still holds the attributes it made it with.
  if (::fstat(temp.fd(), &made) != 0) throw ErrnoError(errno, u"Cannot write", displayPath);
  const bool stage = roundTrips && original.size <= kMostStaged;
  if (stage)
    WriteStaged(temp.fd(), write, displayPath);
  else
    write(temp.fd());
  KeepOwnerAndMode(temp.fd(), made, original, displayPath);
  if (int error = SetExtendedAttributes(attributes(), temp.fd())) {
    throw ErrnoError(error, u"Cannot keep the extended attributes (access lists) of", displayPath);
  }

  // After the attributes, so that they are flushed with the data.
  // Where both wait for a server, the original is closed while the new file is flushed.
  std::future<void> closing;
  if (roundTrips) closing = std::async(std::launch::async, closeOriginal);
  int fault = Fault(faultHook, ReplaceStep::Sync);
  if (fault == 0 && ::fsync(temp.fd()) != 0 && !FlushNotPassedOn(errno)) fault = errno;
  if (closing.valid())
    closing.get();
  else if (fault == 0)
    closeOriginal();
  if (fault != 0) throw ErrnoError(fault, u"Cannot write", displayPath);

  // Writing a large package takes a while; whoever saved the document in
  // that time keeps their version. What remains is the gap to the rename.
  UnchangedIdentityAt(dir, name, original, displayPath);

  // Closed first: a file server will not rename an open file.
  if (int error = temp.Close()) throw ErrnoError(error, u"Cannot write", displayPath);
  fault = Fault(faultHook, ReplaceStep::Rename);
  if (fault == 0) {
    fault =
        RetriedWhileBusy([&] { return ::renameat(dir, temp.name().c_str(), dir, name.c_str()); });
  }
  if (fault != 0) throw ErrnoError(fault, u"Cannot write", displayPath);
}

// Whether dir holds original under name.
bool Holds(int dir, const std::string& name, const FileIdentity& original) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, 0) == 0 && st.st_dev == original.device &&
         st.st_ino == original.inode;
}

// The folder of realPath, held open; a held descriptor that no longer holds
// the original (its folder was moved or replaced) is opened afresh.
int FolderHolding(FolderDescriptors& folders, const std::string& folder, const std::string& name,
                  const FileIdentity& original, const std::u16string& displayPath) {
  int dir = folders.Get(folder);
  if (dir >= 0 && !Holds(dir, name, original)) {
    folders.Forget(folder);
    dir = folders.Get(folder);
  }
  if (dir < 0) throw ErrnoError(errno, u"Cannot write", displayPath);
  return dir;
}

// The file now at name in the folder dir, when it is the one made there.
UniqueFd OpenIfMade(int dir, const std::string& name, const struct stat& made) {
  UniqueFd fd(
      ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  // Only the identity, from what the open brought: no further request.
  struct statx st {};
  if (!fd || ::statx(fd.get(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO, &st) != 0 ||
      !(st.stx_mask & STATX_INO) || makedev(st.stx_dev_major, st.stx_dev_minor) != made.st_dev ||
      st.stx_ino != made.st_ino) {
    return UniqueFd();
  }
  return fd;
}

}  // namespace

Replacement ReplaceFileAtomically(const std::string& realPath, int originalFd,
                                  const FileIdentity& original, const std::u16string& displayPath,
                                  const ServerOptions& options,
                                  const std::function<void(int fd)>& write,
                                  const std::function<void()>& closeOriginal) {
  // realPath is absolute, so it always names a folder.
  const std::string folder(FolderOf(std::string_view(realPath)));
  const std::string name(FileNameOf(std::string_view(realPath)));
  if (int fault = Fault(options.faultHook, ReplaceStep::CreateTemp)) {
    throw ErrnoError(fault, u"Cannot write", displayPath);
  }
  // Everything below goes through the folder's descriptor: no path is looked
  // up again from its first folder on.
  FolderDescriptors ownFolders;
  FolderDescriptors& folders = options.folders ? *options.folders : ownFolders;
  const int dir = FolderHolding(folders, folder, name, original, displayPath);
  const bool roundTrips = folders.RoundTrips();
  // Where each request is a round trip, the original's attributes are read
  // while the new file is made; it is closed only after they are taken.
  std::future<ExtendedAttributes> reading;
  if (roundTrips)
    reading =
        std::async(std::launch::async, [originalFd] { return ReadExtendedAttributes(originalFd); });
  const std::function<ExtendedAttributes()> attributes = [&] {
    return reading.valid() ? reading.get() : ReadExtendedAttributes(originalFd);
  };
  TempFile temp(dir, folder, displayPath, original.mode & 0777);
  struct stat made {};
  try {
    WriteAndRename(temp, dir, name, attributes, original, displayPath, options.faultHook, write,
                   closeOriginal, roundTrips, made);
  } catch (const ServiceError& error) {
    const int left = temp.Remove();
    if (left == 0 || left == ENOENT) throw;
    throw ServiceError(error.number(), error.description() + u"; the temporary file '" +
                                           NativePathToText(temp.path()) + u"' is left behind: " +
                                           FromUtf8(std::strerror(left)));
  }
  temp.Kept();

  // Makes the rename itself survive a crash. A folder held only as a place
  // (EBADF) cannot be flushed; the new content is flushed already then.
  auto flushFolder = [&options, dir] {
    int fault = Fault(options.faultHook, ReplaceStep::FolderSync);
    if (fault == 0 && ::fsync(dir) != 0 && !FlushNotPassedOn(errno) && errno != EBADF)
      fault = errno;
    return fault;
  };
  std::future<int> flushing;
  if (roundTrips) flushing = std::async(std::launch::async, flushFolder);
  UniqueFd replaced = OpenIfMade(dir, name, made);
  const int folderFlushError = flushing.valid() ? flushing.get() : flushFolder();
  if (!replaced) {
    throw ServiceError(error_number::kDocumentChanged,
                       u"Cannot read back '" + displayPath +
                           u"': another file took its place right after it was written");
  }
  return Replacement{std::move(replaced), folderFlushError};
}

}  // namespace quavelle::docserver
