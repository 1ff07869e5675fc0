#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "services/UniqueFd.h"

namespace quavelle::docserver {

// Folders held open for replacing documents in them: the new file is made,
// checked, renamed and read back relative to its folder, and the folder then
// flushed, so that a run opens each folder once and not once per document and
// no path is looked up again from its first folder on (one round trip per
// folder on a network share). A walk writes the documents of one folder one
// after another, so two are held (the second for documents that links lead
// to elsewhere): a folder held open on a file server cannot be renamed by
// others, and the last one stays held until the server is dropped. Used by
// the thread that writes documents only.
class FolderDescriptors {
 public:
  static constexpr std::size_t kHeld = 2;

  // A descriptor of folder, held or opened now (for reading, or only as a
  // place when it may not be listed); -1 (errno set) when it cannot be opened.
  // Valid until the next call.
  int Get(const std::string& folder);
  // Whether requests in the folder Get gave last are round trips to a server.
  bool RoundTrips() const { return held_.back().roundTrips; }
  // Closes folder's descriptor, if held: it may no longer name what folder names.
  void Forget(const std::string& folder);
  std::size_t HeldCount() const { return held_.size(); }

 private:
  struct Held {
    std::string folder;
    UniqueFd fd;
    bool roundTrips = false;
  };
  std::vector<Held> held_;  // the one used last at the back
};

}  // namespace quavelle::docserver
