#include "TempTree.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "services/Text.h"

namespace quavelle::testing {
namespace fs = std::filesystem;
TempTree::TempTree() : root_(folder_.path().string()) {
  fs::permissions(root_, fs::perms(0755));  // open to the unprivileged child
}

std::string TempTree::Native(std::string_view relative) const {
  return relative.empty() ? root_ : root_ + '/' + std::string(relative);
}

std::u16string TempTree::Text(std::string_view relative) const {
  return NativePathToText(Native(relative));
}

void TempTree::Folder(std::string_view relative) const { fs::create_directory(Native(relative)); }

void TempTree::File(std::string_view relative) const {
  if (!std::ofstream(Native(relative))) throw std::runtime_error("create");
}

void TempTree::Symlink(std::string_view target, std::string_view relative) const {
  fs::create_symlink(target, Native(relative));
}

void TempTree::HardLink(std::string_view existing, std::string_view relative) const {
  fs::create_hard_link(Native(existing), Native(relative));
}

}  // namespace quavelle::testing
