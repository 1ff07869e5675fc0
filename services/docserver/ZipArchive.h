#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "services/docserver/ServerOptions.h"

namespace quavelle::docserver {

class DocumentFile;

// A zip package read through an open file, entry by entry, never whole.
// Failures are ServiceErrors that name the document.
class ZipArchive {
 public:
  // Reads the central directory. file must outlive the archive.
  ZipArchive(const DocumentFile& file, std::u16string documentPath);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  std::uint64_t EntryCount() const;
  // The name as stored, in bytes.
  std::string EntryName(std::uint64_t index) const;
  // The inflated data, refused (1006) once it passes limit bytes, whatever the
  // directory declares.
  std::string ReadEntry(std::uint64_t index, std::uint64_t limit) const;

  // Writes the package to outFd with the data of the entries in replacements
  // (by index) replaced. Every other byte range is copied as it is.
  void WriteReplacingEntries(const std::map<std::uint64_t, std::string>& replacements, int outFd,
                             const FaultHook& faultHook) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quavelle::docserver
