#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quavelle::docserver {

class DocumentState;

// Opens and lists, on worker threads, the documents a walk is about to ask
// for, so that their reads overlap the work on the current one: on a network
// share each read is a round trip. Only reads happen here; every change is
// still made by the caller's thread, in walk order. At most depth documents
// are held ready at a time.
class ReadAhead {
 public:
  // Opens path and lists its links; may throw, and the caller then meets
  // the same failure when it opens the file itself.
  using Loader = std::function<std::shared_ptr<DocumentState>(const std::u16string& path)>;

  ReadAhead(Loader loader, std::size_t depth, unsigned threads);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The files to prepare, in the order they will be asked for; replaces
  // whatever was expected before.
  void Expect(std::vector<std::u16string> paths);

  // The document prepared for path (waiting while a worker is on it), or
  // nullptr when none was or it failed. Expected files before path that were
  // not asked for are dropped.
  std::shared_ptr<DocumentState> Take(const std::u16string& path);

 private:
  struct Slot {
    std::u16string path;
    bool started = false;
    bool done = false;
    std::shared_ptr<DocumentState> state;
  };

  void Work();

  Loader loader_;
  std::size_t depth_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Slot>> slots_;  // in the order expected
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quavelle::docserver
