#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/Collection.h"

namespace quavelle::testing {

// A fresh folder under /tmp, open to others and removed with everything in it
// when the object goes. Entries are named relative to it, as native bytes.
class TempTree {
 public:
  TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  ~TempTree();

  const std::string& Root() const { return root_; }
  std::string Native(std::string_view relative) const;
  std::u16string Text(std::string_view relative = {}) const;  // through the name conversion

  void Folder(std::string_view relative) const;
  void File(std::string_view relative) const;
  void Symlink(std::string_view target, std::string_view relative) const;
  void HardLink(std::string_view existing, std::string_view relative) const;
  void Fifo(std::string_view relative) const;
  void Socket(std::string_view relative) const;

 private:
  std::string root_;
};

// Runs body in a forked child and returns its result (0..255), or -1 when the
// child ended abnormally. Unprivileged: the child first becomes the user nobody
// so that permission bits apply to it, and returns -1 when it cannot.
// InOwnMountNamespace: what the child mounts goes with it; kNoMount when it cannot.
int RunUnprivileged(const std::function<int()>& body);
inline constexpr int kNoMount = 77;
int RunInOwnMountNamespace(const std::function<int()>& body);

// The paths of a collection's elements, sorted: the service's order is its own.
template <class T>
std::vector<std::u16string> SortedPaths(Collection<T>& collection) {
  std::vector<std::u16string> paths;
  auto e = collection.NewEnum();
  while (auto element = e->Next()) paths.push_back(element->Path());
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace quavelle::testing
