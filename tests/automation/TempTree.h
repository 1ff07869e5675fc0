#pragma once

#include <filesystem>
#include <string>

namespace quavelle::testing {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::filesystem::path& root() const { return root_; }
  // Creates the folder (and its parents) or the empty file at root/relative.
  std::filesystem::path AddFolder(const std::filesystem::path& relative) const;
  std::filesystem::path AddFile(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path root_;
};

std::u16string Text(const std::filesystem::path& path);

}  // namespace quavelle::testing
