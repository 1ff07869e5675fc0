#include "services/filesystem/LocalWalkGuard.h"

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_set>

#include "services/Text.h"

namespace quavelle {
namespace {

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity&) const = default;
};

struct IdentityHash {
  std::size_t operator()(const Identity& id) const noexcept {
    const std::size_t h = std::hash<ino_t>{}(id.inode);
    return h ^ (std::hash<dev_t>{}(id.device) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};

class LocalWalkGuard final : public WalkGuard {
 public:
  bool FirstVisit(const std::u16string& path) override {
    const std::string native = TextToNativePath(path);
    struct stat st {};
    // Unreadable identities count as new: the service then reports the real failure.
    if (native.find('\0') != std::string::npos || ::stat(native.c_str(), &st) != 0) return true;
    return seen_.insert(Identity{st.st_dev, st.st_ino}).second;
  }

 private:
  std::unordered_set<Identity, IdentityHash> seen_;
};

}  // namespace

std::unique_ptr<WalkGuard> CreateLocalWalkGuard() { return std::make_unique<LocalWalkGuard>(); }

}  // namespace quavelle
