#pragma once

#include <cerrno>
#include <chrono>
#include <thread>

namespace quavelle::docserver {

// Runs call (a system call giving 0 or -1 and errno) and gives 0 or the errno.
// A user-space SMB client handles a close after close() has returned, and
// until then refuses to delete or replace the file with EBUSY; such a call is
// asked again for up to a second.
template <class Call>
int RetriedWhileBusy(const Call& call) {
  for (int attempt = 0;; ++attempt) {
    if (call() == 0) return 0;
    if (errno != EBUSY || attempt == 40) return errno;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

}  // namespace quavelle::docserver
