#include "services/docserver/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "services/docserver/ErrnoError.h"

namespace quavelle::docserver {

TempFile::TempFile(const std::string& folder, const std::u16string& displayPath) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, ".qv%016llx.tmp", static_cast<unsigned long long>(random()));
    std::string candidate = folder + "/" + name;
    int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      path_ = std::move(candidate);
      fd_ = UniqueFd(fd);
      return;
    }
    if (errno != EEXIST) throw ErrnoError(errno, u"Cannot write", displayPath);
  }
  throw ErrnoError(EEXIST, u"Cannot write", displayPath);
}

TempFile::~TempFile() {
  if (!released_ && !path_.empty()) ::unlink(path_.c_str());
}

UniqueFd TempFile::Release() {
  released_ = true;
  return std::move(fd_);
}

}  // namespace quavelle::docserver
