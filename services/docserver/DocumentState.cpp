#include "services/docserver/DocumentState.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "services/Text.h"
#include "services/docserver/AtomicFileReplace.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"

namespace quavelle::docserver {
namespace {

struct FreeDeleter {
  void operator()(char* p) const noexcept { std::free(p); }
};

// The file a symbolic link leads to, so that the link itself stays a link.
// When the open file fd is known by path itself, no component is a link:
// the kernel tells so without a request per folder of the path, which a
// network client without a cache would each send to its server.
std::string RealPath(const std::u16string& path, int fd) {
  const std::string native = TextToNativePath(path);
  std::string known(native.size() + 1, '\0');
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(proc.c_str(), known.data(), known.size());
  if (length >= 0 && static_cast<std::size_t>(length) == native.size() &&
      known.compare(0, native.size(), native) == 0) {
    return native;
  }
  std::unique_ptr<char, FreeDeleter> real(::realpath(native.c_str(), nullptr));
  if (!real) throw ErrnoError(errno, u"Cannot write", path);
  return real.get();
}

}  // namespace

DocumentState::DocumentState(std::u16string path, std::unique_ptr<DocumentContent> content,
                             ServerOptions options)
    : path_(std::move(path)), content_(std::move(content)), options_(std::move(options)) {
  file_ = DocumentFile::Open(path_);
  // What a file manager's "new document" makes, before anyone saved it.
  if (file_->identity().size == 0) {
    content_.reset();
    return;
  }
  content_->Load(*file_);
}

DocumentState::~DocumentState() {
  if (file_ && options_.closer) options_.closer->Close(file_->ReleaseDescriptor());
}

std::size_t DocumentState::ListLinks() { return content_ ? content_->ListLinks() : 0; }

std::u16string DocumentState::AbsolutePath(std::size_t index) const {
  return content_->AbsolutePath(index);
}

void DocumentState::Repoint(std::size_t index, const std::u16string& newPath) {
  if (newPath.empty()) {
    throw ServiceError(error_number::kInvalidArgument,
                       u"Cannot change a link of '" + path_ + u"' to an empty path");
  }
  content_->Repoint(index, newPath);
}

void DocumentState::WriteChanges() {
  if (!content_ || !content_->HasChanges()) return;
  const std::string real = RealPath(path_, file_->fd());
  // The open file itself: whether another file took its place is checked
  // in its folder right before the rename.
  const FileIdentity now = UnchangedIdentityAt(file_->fd(), "", file_->identity(), path_);
  // A rename replaces a read-only file as readily as any other, so ask first;
  // one's own file that its mode lets one write needs no asking (a network
  // client would ask its server).
  const bool ownWritable = now.owner == ::geteuid() && (now.mode & 0200) != 0;
  if (!ownWritable && ::faccessat(AT_FDCWD, real.c_str(), W_OK, AT_EACCESS) != 0) {
    throw ErrnoError(errno, u"Cannot write", path_);
  }
  if ((now.mode & 0222) == 0) {
    throw ServiceError(error_number::kPermissionDenied,
                       u"Cannot write '" + path_ + u"': the file is read-only");
  }

  Replacement replaced;
  try {
    replaced = ReplaceFileAtomically(
        real, file_->fd(), now, path_, options_,
        [&](int fd) { content_->WriteChanged(fd, options_.faultHook); }, [&] { file_->Suspend(); });
  } catch (const ServiceError&) {
    file_->Resume(path_);  // the original is still in place: read on from it
    throw;
  }

  // From here on the file on disk is the one just written, whatever follows.
  file_ = DocumentFile::Adopt(std::move(replaced.file), path_);
  content_->Committed(*file_);
  if (replaced.folderFlushError != 0) {
    throw ErrnoError(replaced.folderFlushError,
                     u"The links were re-pointed, but a crash could still undo it: cannot flush "
                     u"the folder of",
                     path_);
  }
}

}  // namespace quavelle::docserver
