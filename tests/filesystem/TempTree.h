#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "TempFolder.h"
#include "Unprivileged.h"
#include "services/Collection.h"

namespace quavelle::testing {

// A fresh temporary folder, open to others and removed with everything in it.
// Entries are named relative to it, as native bytes.
class TempTree {
 public:
  TempTree();
  TempTree(const TempTree&) = delete;

  std::string Native(std::string_view relative = {}) const;
  std::u16string Text(std::string_view relative = {}) const;  // through the name conversion
  void Folder(std::string_view relative) const;
  void File(std::string_view relative) const;
  void Symlink(std::string_view target, std::string_view relative) const;
  void HardLink(std::string_view existing, std::string_view relative) const;

 private:
  TempFolder folder_;
  std::string root_;
};

// The service's order is its own.
template <class T>
std::vector<std::u16string> SortedPaths(Collection<T>& collection) {
  std::vector<std::u16string> paths;
  auto e = collection.NewEnum();
  while (auto element = e->Next()) paths.push_back(element->Path());
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace quavelle::testing
