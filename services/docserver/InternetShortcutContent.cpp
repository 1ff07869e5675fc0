#include "services/docserver/InternetShortcutContent.h"

#include "services/docserver/FileWriting.h"
#include "services/docserver/ShortcutErrors.h"
#include "services/docserver/SmallFile.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint64_t kMaxInternetShortcutSize = 1 << 20;

}  // namespace

void InternetShortcutContent::Load(const DocumentFile& file) {
  onDisk_ = ReadSmallFile(file, kMaxInternetShortcutSize, path_);
  shortcut_ = InternetShortcut::Parse(onDisk_, path_);
}

const InternetShortcut& InternetShortcutContent::Loaded() const {
  if (!shortcut_) {
    throw ServiceError(error_number::kInvalidArgument, u"'" + path_ + u"' is not loaded");
  }
  return *shortcut_;
}

std::size_t InternetShortcutContent::ListLinks() { return Loaded().size(); }

std::u16string InternetShortcutContent::AbsolutePath(std::size_t index) const {
  const InternetShortcut& shortcut = Loaded();
  if (index >= shortcut.size()) {
    throw ServiceError(error_number::kInvalidArgument, u"'" + path_ + u"' has no such link");
  }
  return shortcut.target(index);
}

void InternetShortcutContent::Repoint(std::size_t index, const std::u16string& newPath) {
  AbsolutePath(index);
  shortcut_ = InternetShortcut::Parse(shortcut_->Repointed(index, newPath), path_);
}

bool InternetShortcutContent::HasChanges() const { return Loaded().bytes() != onDisk_; }

void InternetShortcutContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  WriteAll(outFd, Loaded().bytes(), faultHook, path_);
}

void InternetShortcutContent::Committed(const DocumentFile&) { onDisk_ = Loaded().bytes(); }

}  // namespace quavelle::docserver
