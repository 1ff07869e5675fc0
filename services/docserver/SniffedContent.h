#pragma once

#include <memory>
#include <string>

#include "services/docserver/DocumentContent.h"

namespace quavelle::docserver {

// A file whose name announces its kind, read as what its first bytes say it
// is: a compound file saved under a package name is a legacy binary file, and
// a file under a legacy binary name that is no compound file (a web page or
// text saved as ".xls", an owner file) holds no links the server can read.
class SniffedContent : public DocumentContent {
 public:
  // byName is the content the name announced; legacyName says whether that
  // is a legacy binary kind.
  SniffedContent(std::unique_ptr<DocumentContent> byName, bool legacyName, std::u16string path);

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  std::unique_ptr<DocumentContent> byName_;
  bool legacyName_;
  std::u16string path_;
  std::unique_ptr<DocumentContent> content_;  // null: no links
};

}  // namespace quavelle::docserver
