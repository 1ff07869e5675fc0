#include "TempFolder.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace quavelle::testing {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quavelle-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;  // a test that failed half-way may leave a folder it cannot remove
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace quavelle::testing
