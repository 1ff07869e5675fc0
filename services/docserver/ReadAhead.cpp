#include "services/docserver/ReadAhead.h"

#include <algorithm>

#include "services/ServiceError.h"
#include "services/docserver/DocumentState.h"

namespace quavelle::docserver {

ReadAhead::ReadAhead(Loader loader, std::size_t depth, unsigned threads)
    : loader_(std::move(loader)), depth_(depth) {
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ReadAhead::Expect(std::vector<std::u16string> paths) {
  {
    std::lock_guard lock(mutex_);
    slots_.clear();  // a worker still on one keeps its own reference
    for (std::u16string& path : paths) {
      slots_.push_back(std::make_shared<Slot>(Slot{std::move(path), false, false, nullptr}));
    }
  }
  changed_.notify_all();
}

std::shared_ptr<DocumentState> ReadAhead::Take(const std::u16string& path) {
  std::unique_lock lock(mutex_);
  const auto found = std::ranges::find_if(
      slots_, [&](const std::shared_ptr<Slot>& slot) { return slot->path == path; });
  if (found == slots_.end()) return nullptr;
  const std::shared_ptr<Slot> slot = *found;
  // The walk passed over those (already visited, or gone).
  slots_.erase(slots_.begin(), std::next(found));
  changed_.notify_all();
  if (!slot->started) return nullptr;  // sooner done here than waited for
  changed_.wait(lock, [&] { return slot->done; });
  return std::move(slot->state);
}

void ReadAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Slot> next;
    changed_.wait(lock, [&] {
      if (stopping_) return true;
      std::size_t ahead = 0;
      for (const std::shared_ptr<Slot>& slot : slots_) {
        if (++ahead > depth_) break;
        if (!slot->started) {
          next = slot;
          return true;
        }
      }
      return false;
    });
    if (stopping_) return;
    next->started = true;
    lock.unlock();
    std::shared_ptr<DocumentState> state;
    try {
      state = loader_(next->path);
    } catch (const std::exception&) {
      // Left for the walk, which opens the file itself and reports the failure.
      state = nullptr;
    }
    lock.lock();
    next->state = std::move(state);
    next->done = true;
    changed_.notify_all();
  }
}

}  // namespace quavelle::docserver
