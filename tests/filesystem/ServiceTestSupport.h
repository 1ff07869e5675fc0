#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "services/Collection.h"

namespace quavelle::testing {

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
