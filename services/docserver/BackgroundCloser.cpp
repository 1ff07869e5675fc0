#include "services/docserver/BackgroundCloser.h"

namespace quavelle::docserver {

BackgroundCloser::BackgroundCloser() : worker_([this] { Work(); }) {}

BackgroundCloser::~BackgroundCloser() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  worker_.join();
}

void BackgroundCloser::Close(UniqueFd fd) {
  if (!fd) return;
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(fd));
  }
  changed_.notify_one();
}

void BackgroundCloser::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, with nothing left
    std::vector<UniqueFd> batch;
    batch.swap(pending_);
    lock.unlock();
    batch.clear();  // the closes, without holding the lock
    lock.lock();
  }
}

}  // namespace quavelle::docserver
