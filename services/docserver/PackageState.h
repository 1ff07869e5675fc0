#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/docserver/DocumentFile.h"
#include "services/docserver/PackageFormat.h"
#include "services/docserver/ServerOptions.h"
#include "services/docserver/ZipArchive.h"

namespace quavelle::docserver {

struct LinkRecord {
  std::uint64_t entryIndex = 0;
  std::string entryName;
  FoundLink link;
};

// What a package document and all its link objects share: the open package,
// the links found in it, and their values as this server last wrote them, so
// that each change builds on the one before.
class PackageState {
 public:
  // Opens the package and reads its directory; throws when it cannot be read.
  PackageState(std::u16string path, std::unique_ptr<PackageFormat> format, ServerOptions options);

  const std::u16string& path() const { return path_; }

  // Reads every link-bearing part on the first call, one part in memory at a
  // time; later calls give the links as they are now.
  std::size_t ListLinks();
  const LinkRecord& link(std::size_t index) const { return links_.at(index); }

  // Points link index at newPath and puts the new package in place before it
  // returns; on failure the document stays as it was.
  void Repoint(std::size_t index, const std::u16string& newPath);

 private:
  ZipArchive& Archive();
  std::string RewrittenPart(const LinkRecord& record, const std::string& stored);

  std::u16string path_;
  std::unique_ptr<PackageFormat> format_;
  ServerOptions options_;
  std::optional<DocumentFile> file_;
  std::unique_ptr<ZipArchive> archive_;  // reads file_; reset before file_ changes
  std::vector<LinkRecord> links_;
  bool listed_ = false;
};

}  // namespace quavelle::docserver
