#include "services/docserver/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "services/docserver/BusyRetry.h"
#include "services/docserver/ErrnoError.h"

namespace quavelle::docserver {

TempFile::TempFile(int folderFd, const std::string& folder, const std::u16string& displayPath,
                   mode_t mode)
    : folder_(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0)) {
  if (!folder_) throw ErrnoError(errno, u"Cannot write", displayPath);
  // Seeded once per thread: opening the system's random source for every
  // document cost more than the name is worth.
  thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, ".qv%016llx.tmp", static_cast<unsigned long long>(random()));
    int fd =
        ::openat(folder_.get(), name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      name_ = name;
      path_ = folder + "/" + name;
      fd_ = UniqueFd(fd);
      return;
    }
    if (errno != EEXIST) throw ErrnoError(errno, u"Cannot write", displayPath);
  }
  throw ErrnoError(EEXIST, u"Cannot write", displayPath);
}

TempFile::~TempFile() {
  if (!kept_) Remove();
}

int TempFile::Close() {
  if (!fd_) return 0;
  // After a failed close the descriptor is gone all the same (Linux), so it
  // is never closed twice; EINTR says nothing about the data.
  if (::close(fd_.Release()) == 0 || errno == EINTR) return 0;
  return errno;
}

int TempFile::Remove() {
  Close();
  if (removed_ || name_.empty()) return 0;
  removed_ = true;
  return RetriedWhileBusy([&] { return ::unlinkat(folder_.get(), name_.c_str(), 0); });
}

}  // namespace quavelle::docserver
