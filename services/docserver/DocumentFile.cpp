#include "services/docserver/DocumentFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"

namespace quavelle::docserver {
namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  id.mode = st.st_mode & 07777;
  id.owner = st.st_uid;
  id.group = st.st_gid;
  return id;
}

}  // namespace

DocumentFile DocumentFile::Open(const std::u16string& path) {
  // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
  UniqueFd fd(::open(TextToNativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) throw ErrnoError(errno, u"Cannot open", path);
  return Adopt(std::move(fd), path);
}

DocumentFile DocumentFile::Adopt(UniqueFd fd, const std::u16string& path) {
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError(errno, u"Cannot read", path);
  if (!S_ISREG(st.st_mode)) {
    throw ServiceError(error_number::kPathFileAccessError,
                       u"Cannot open '" + path + u"': not a regular file");
  }
  return DocumentFile(std::move(fd), IdentityOf(st));
}

void DocumentFile::Suspend() {
  if (suspended_) return;
  UniqueFd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  // Without /dev/null the file stays open: a rename over it may then fail.
  if (!nothing || ::dup3(nothing.get(), fd_.get(), O_CLOEXEC) < 0) return;
  suspended_ = true;
}

void DocumentFile::Resume(const std::u16string& path) {
  if (!suspended_) return;
  UniqueFd again(
      ::open(TextToNativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st {};
  if (!again || ::fstat(again.get(), &st) != 0 || !IdentityOf(st).SameContentAs(identity_)) {
    return;  // reads give nothing; the next write finds the file changed
  }
  if (::dup3(again.get(), fd_.get(), O_CLOEXEC) >= 0) suspended_ = false;
}

FileIdentity UnchangedIdentityAt(int folderFd, const std::string& name,
                                 const FileIdentity& expected, const std::u16string& displayPath) {
  struct stat st {};
  const int flags = name.empty() ? AT_EMPTY_PATH : 0;
  if (::fstatat(folderFd, name.c_str(), &st, flags) != 0) {
    throw ErrnoError(errno, u"Cannot write", displayPath);
  }
  const FileIdentity now = IdentityOf(st);
  if (!now.SameContentAs(expected)) {
    throw ServiceError(
        error_number::kDocumentChanged,
        u"Cannot change '" + displayPath + u"': it changed on disk since it was opened");
  }
  return now;
}

}  // namespace quavelle::docserver
