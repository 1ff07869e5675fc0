#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/docserver/DocumentContent.h"
#include "services/docserver/PackageFormat.h"
#include "services/docserver/ServerOptions.h"
#include "services/docserver/ZipArchive.h"

namespace quavelle::docserver {

// A zip package (Office Open XML, OpenDocument) seen as its links: the XML
// parts that hold them are read one at a time, and the parts that change are
// written in one new package.
class PackageContent : public DocumentContent {
 public:
  PackageContent(std::u16string path, std::unique_ptr<PackageFormat> format, ServerOptions options);
  ~PackageContent() override;

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  // What one place will store once written.
  struct Pending {
    std::string stored;
    LinkTarget target;
  };
  struct Record {
    std::uint64_t entryIndex = 0;
    std::string entryName;
    FoundLink link;  // as the file holds it
    std::optional<Pending> pending;
    std::vector<std::optional<Pending>> companionsPending;  // one per link.companions
  };

  ZipArchive& Archive();
  std::string RewrittenPart(std::uint64_t entryIndex, const std::string& entryName) const;
  std::uint64_t EntryIndex(const std::string& entryName) const;

  std::u16string path_;
  std::unique_ptr<PackageFormat> format_;
  ServerOptions options_;
  const DocumentFile* file_ = nullptr;
  bool ownerFile_ = false;               // what an office suite leaves beside an open document
  std::unique_ptr<ZipArchive> archive_;  // read from file_ when first needed
  std::vector<Record> links_;
  std::map<std::string, std::uint64_t> entryIndexes_;  // of the link-bearing parts
  bool listed_ = false;
};

}  // namespace quavelle::docserver
