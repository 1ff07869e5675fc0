#pragma once

#include <optional>
#include <string>

#include "services/docserver/DocumentContent.h"
#include "services/docserver/ShellLink.h"

namespace quavelle::docserver {

// A Windows shortcut (.lnk) as a document: one link, its target, or none for
// a shortcut to a special folder. What moves and what is refused: ShellLink.h.
class ShellLinkContent : public DocumentContent {
 public:
  explicit ShellLinkContent(std::u16string documentPath) : path_(std::move(documentPath)) {}

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  const ShellLink& Loaded() const;

  std::u16string path_;
  std::string onDisk_;             // the bytes of the file as it is
  std::optional<ShellLink> link_;  // as re-pointed
};

}  // namespace quavelle::docserver
