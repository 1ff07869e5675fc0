#include "services/docserver/ShellLinkContent.h"

#include "services/docserver/FileWriting.h"
#include "services/docserver/ShortcutErrors.h"
#include "services/docserver/SmallFile.h"

namespace quavelle::docserver {
namespace {

// Shortcuts are a few kilobytes; the format's 16-bit and 32-bit sizes allow
// more, but nothing a shell writes comes near this.
constexpr std::uint64_t kMaxShortcutSize = 4 << 20;

}  // namespace

void ShellLinkContent::Load(const DocumentFile& file) {
  onDisk_ = ReadSmallFile(file, kMaxShortcutSize, path_);
  link_ = ShellLink::Parse(onDisk_, path_);
}

const ShellLink& ShellLinkContent::Loaded() const {
  if (!link_) throw ServiceError(error_number::kInvalidArgument, u"'" + path_ + u"' is not loaded");
  return *link_;
}

std::size_t ShellLinkContent::ListLinks() { return Loaded().target() ? 1 : 0; }

std::u16string ShellLinkContent::AbsolutePath(std::size_t index) const {
  const ShellLink& link = Loaded();
  if (index != 0 || !link.target()) {
    throw ServiceError(error_number::kInvalidArgument, u"'" + path_ + u"' has no such link");
  }
  return *link.target();
}

void ShellLinkContent::Repoint(std::size_t index, const std::u16string& newPath) {
  AbsolutePath(index);
  link_ = ShellLink::Parse(link_->Repointed(newPath), path_);
}

bool ShellLinkContent::HasChanges() const { return Loaded().bytes() != onDisk_; }

void ShellLinkContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  WriteAll(outFd, Loaded().bytes(), faultHook, path_);
}

void ShellLinkContent::Committed(const DocumentFile&) { onDisk_ = Loaded().bytes(); }

}  // namespace quavelle::docserver
