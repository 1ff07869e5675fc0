#include "services/docserver/SniffedContent.h"

#include "services/docserver/DocumentFile.h"
#include "services/docserver/LegacyContent.h"

namespace quavelle::docserver {

SniffedContent::SniffedContent(std::unique_ptr<DocumentContent> byName, bool legacyName,
                               std::u16string path)
    : byName_(std::move(byName)), legacyName_(legacyName), path_(std::move(path)) {}

void SniffedContent::Load(const DocumentFile& file) {
  const bool compound = IsCompoundFile(file.fd());
  if (compound && !legacyName_) {
    content_ = LegacyContentForBytes(file.fd(), path_);
  } else if (compound || !legacyName_) {
    content_ = std::move(byName_);
  }
  if (content_) content_->Load(file);
}

std::size_t SniffedContent::ListLinks() { return content_ ? content_->ListLinks() : 0; }

std::u16string SniffedContent::AbsolutePath(std::size_t index) const {
  return content_->AbsolutePath(index);
}

void SniffedContent::Repoint(std::size_t index, const std::u16string& newPath) {
  content_->Repoint(index, newPath);
}

bool SniffedContent::HasChanges() const { return content_ && content_->HasChanges(); }

void SniffedContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  content_->WriteChanged(outFd, faultHook);
}

void SniffedContent::Committed(const DocumentFile& newFile) { content_->Committed(newFile); }

}  // namespace quavelle::docserver
