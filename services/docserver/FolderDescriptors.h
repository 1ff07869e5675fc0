#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "services/UniqueFd.h"

namespace quavelle::docserver {

// Folders held open for flushing their entries after a document in them is
// replaced, so that a run opens each folder once and not once per document.
// A walk writes the documents of one folder one after another, so the few
// folders used last are kept; holding more would keep folders open on a file
// server (where an open folder cannot be renamed) for no gain. One run at a
// time uses it.
class FolderDescriptors {
 public:
  static constexpr std::size_t kHeld = 4;

  // A descriptor of folder, held or opened now; -1 (errno set) when it cannot
  // be opened. Valid until the next call.
  int Get(const std::string& folder);
  // Closes folder's descriptor, if held: it no longer names what folder names.
  void Forget(const std::string& folder);
  std::size_t HeldCount() const { return held_.size(); }

 private:
  std::vector<std::pair<std::string, UniqueFd>> held_;  // the one used last at the back
};

}  // namespace quavelle::docserver
