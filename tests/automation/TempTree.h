#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quavelle::testing {

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempTree {
 public:
  TempTree()
      : root_(std::filesystem::temp_directory_path() /
              ("quavelle-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    if (!std::filesystem::create_directory(root_)) throw std::runtime_error("folder exists");
  }
  ~TempTree() {
    std::error_code ignored;  // a leftover temporary folder must not fail the test run
    std::filesystem::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path AddFolder(const std::filesystem::path& relative) const {
    std::filesystem::create_directories(root_ / relative);
    return root_ / relative;
  }
  // An empty file, with the folders above it.
  std::filesystem::path AddFile(const std::filesystem::path& relative) const {
    AddFolder(relative.parent_path());
    if (!std::ofstream(root_ / relative)) throw std::runtime_error("cannot create a test file");
    return root_ / relative;
  }

 private:
  std::filesystem::path root_;
};

inline std::u16string Text(const std::filesystem::path& path) {
  return std::u16string(path.native().begin(), path.native().end());
}

}  // namespace quavelle::testing
