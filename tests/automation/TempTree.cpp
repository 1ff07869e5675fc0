#include "TempTree.h"

#include <windows.h>

#include <fstream>
#include <stdexcept>

namespace quavelle::testing {

TempTree::TempTree() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const auto name = L"quavelle-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt);
    if (std::filesystem::create_directory(base / name)) {
      root_ = base / name;
      return;
    }
  }
  throw std::runtime_error("no fresh temporary folder");
}

TempTree::~TempTree() {
  std::error_code ignored;  // a leftover temporary folder must not fail the test run
  std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path TempTree::AddFolder(const std::filesystem::path& relative) const {
  std::filesystem::create_directories(root_ / relative);
  return root_ / relative;
}

std::filesystem::path TempTree::AddFile(const std::filesystem::path& relative) const {
  std::filesystem::create_directories((root_ / relative).parent_path());
  std::ofstream file(root_ / relative);
  if (!file) throw std::runtime_error("cannot create a test file");
  return root_ / relative;
}

std::u16string Text(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace quavelle::testing
