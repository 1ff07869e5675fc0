#pragma once

#include <string>

namespace quavelle {

// Remembers, for one run, which folders and files the walk has met, by the
// identity of what a path names rather than by its text, so that folder links
// cannot make the walk loop and no document is handled twice.
class WalkGuard {
 public:
  virtual ~WalkGuard() = default;
  // True the first time the folder or file that path names is met. A path
  // whose identity cannot be read counts as new: the service then reports it.
  virtual bool FirstVisit(const std::u16string& path) = 0;
};

}  // namespace quavelle
