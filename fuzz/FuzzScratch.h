#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

// What the file-based fuzz targets share: a folder of their own for the
// inputs they write, and writing an input there. Any failure aborts, which
// the fuzzer reports as a crash of the target itself.
namespace quavelle::fuzz {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteWhole(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

}  // namespace quavelle::fuzz
