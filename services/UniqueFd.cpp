#include "services/UniqueFd.h"

#include <unistd.h>

namespace quavelle {

void UniqueFd::Reset() noexcept {
  // Not retried on EINTR: the descriptor is gone either way on Linux.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace quavelle
