#pragma once

#include <cstdint>
#include <filesystem>

// A seeded tree like a share after a migration: packages of five formats
// with pictures, some holding links to \\srv1 in the forms the office suites
// write, among many other files.
namespace quavelle::bench {

struct TreeShape {
  int packages = 5000;
  int otherFiles = 10000;
  int linkedPercent = 30;
  std::uint64_t seed = 20261207;
};

// Writes the tree under root, unless a finished tree of that shape is there.
void MakeTree(const std::filesystem::path& root, const TreeShape& shape);

}  // namespace quavelle::bench
