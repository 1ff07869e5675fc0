#include "services/docserver/DocumentState.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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
std::string RealPath(const std::u16string& path) {
  std::unique_ptr<char, FreeDeleter> real(::realpath(TextToNativePath(path).c_str(), nullptr));
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
  const std::string real = RealPath(path_);
  const FileIdentity now = UnchangedIdentity(real, file_->identity(), path_);
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
