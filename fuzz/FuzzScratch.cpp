#include "fuzz/FuzzScratch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "services/UniqueFd.h"

namespace quavelle::fuzz {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "quavelle-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;  // a folder left in the temporary folder harms no run
  fs::remove_all(path_, ignored);
}

void WriteWhole(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) std::abort();
  while (size > 0) {
    const ssize_t n = ::write(fd.get(), data, size);
    if (n <= 0) std::abort();
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace quavelle::fuzz
