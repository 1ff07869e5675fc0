#include "services/docserver/FolderDescriptors.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

namespace quavelle::docserver {

int FolderDescriptors::Get(const std::string& folder) {
  auto held = std::find_if(held_.begin(), held_.end(),
                           [&](const auto& entry) { return entry.first == folder; });
  if (held != held_.end()) {
    std::rotate(held, held + 1, held_.end());
    return held_.back().second.get();
  }
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#ifdef O_PATH
  // A folder one may write but not list still takes new files.
  if (!fd && errno == EACCES)
    fd = UniqueFd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#endif
  if (!fd) return -1;
  if (held_.size() == kHeld) held_.erase(held_.begin());
  held_.emplace_back(folder, std::move(fd));
  return held_.back().second.get();
}

void FolderDescriptors::Forget(const std::string& folder) {
  std::erase_if(held_, [&](const auto& entry) { return entry.first == folder; });
}

}  // namespace quavelle::docserver
