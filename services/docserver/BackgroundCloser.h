#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "services/UniqueFd.h"

namespace quavelle::docserver {

// Closes descriptors of files that were only read, on a thread of its own:
// on a network share closing a file waits for the server, and nothing about
// a read-only file depends on when that is. Everything handed over is closed
// before the destructor returns.
class BackgroundCloser {
 public:
  BackgroundCloser();
  ~BackgroundCloser();
  BackgroundCloser(const BackgroundCloser&) = delete;
  BackgroundCloser& operator=(const BackgroundCloser&) = delete;

  void Close(UniqueFd fd);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<UniqueFd> pending_;
  bool stopping_ = false;
  std::thread worker_;  // last: started once the rest is ready
};

}  // namespace quavelle::docserver
