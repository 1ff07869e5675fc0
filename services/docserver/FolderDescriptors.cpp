#include "services/docserver/FolderDescriptors.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "services/docserver/RoundTripFileSystems.h"

namespace quavelle::docserver {

int FolderDescriptors::Get(const std::string& folder) {
  auto held = std::find_if(held_.begin(), held_.end(),
                           [&](const auto& entry) { return entry.folder == folder; });
  if (held != held_.end()) {
    std::rotate(held, held + 1, held_.end());
    return held_.back().fd.get();
  }
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#ifdef O_PATH
  // A folder one may write but not list still takes new files.
  if (!fd && errno == EACCES)
    fd = UniqueFd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#endif
  if (!fd) return -1;
  if (held_.size() == kHeld) held_.erase(held_.begin());
  const bool roundTrips = RoundTripsAt(fd.get());
  held_.push_back({folder, std::move(fd), roundTrips});
  return held_.back().fd.get();
}

void FolderDescriptors::Forget(const std::string& folder) {
  std::erase_if(held_, [&](const auto& entry) { return entry.folder == folder; });
}

}  // namespace quavelle::docserver
