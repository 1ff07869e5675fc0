#pragma once

#include <optional>
#include <string>

#include "services/docserver/DocumentContent.h"
#include "services/docserver/InternetShortcut.h"

namespace quavelle::docserver {

// An Internet shortcut (.url) as a document: its file URL and icon file are
// links. What is read and refused: InternetShortcut.h.
class InternetShortcutContent : public DocumentContent {
 public:
  explicit InternetShortcutContent(std::u16string documentPath) : path_(std::move(documentPath)) {}

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  const InternetShortcut& Loaded() const;

  std::u16string path_;
  std::string onDisk_;
  std::optional<InternetShortcut> shortcut_;  // as re-pointed
};

}  // namespace quavelle::docserver
