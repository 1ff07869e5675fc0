#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

// Packages of realistic shape for the benchmarks, written with the zip library.
namespace quavelle::bench {

struct Entry {
  std::string name;
  std::string bytes;
  bool stored = false;  // kept as is, like an image; otherwise deflated
};

void WritePackage(const std::filesystem::path& path, const std::vector<Entry>& entries);

// Text that compresses like prose, and bytes that do not compress at all.
std::string Prose(std::mt19937_64& random, std::size_t bytes, bool openDocument);
std::string Noise(std::mt19937_64& random, std::size_t bytes);

// A word-processing package of about totalBytes on disk, in Office Open XML
// (.docx) or OpenDocument (.odt) form, with a few links outside the package.
std::vector<Entry> WordProcessingPackage(bool openDocument, std::size_t totalBytes,
                                         const std::vector<std::string>& links,
                                         std::mt19937_64& random);

// A package that is mostly images: imageCount stored entries of imageBytes each,
// and one relationship with a link.
std::vector<Entry> ImagePackage(std::size_t imageCount, std::size_t imageBytes,
                                const std::string& link, std::mt19937_64& random);

}  // namespace quavelle::bench
