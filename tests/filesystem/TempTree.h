#pragma once

#include <string>
#include <string_view>

namespace quavelle::testing {

// A fresh folder under /tmp, removed with everything in it when the object goes.
// Entries are named relative to it, as native byte strings.
class TempTree {
 public:
  TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  ~TempTree();

  const std::string& Root() const { return root_; }
  std::string Native(std::string_view relative) const;
  // The path as the program's text, through the native-name conversion.
  std::u16string Text(std::string_view relative = {}) const;

  void Folder(std::string_view relative) const;
  void File(std::string_view relative, std::string_view content = {}) const;
  void Symlink(std::string_view target, std::string_view relative) const;
  void HardLink(std::string_view existing, std::string_view relative) const;
  void Fifo(std::string_view relative) const;
  void Socket(std::string_view relative) const;
  std::string Read(std::string_view relative) const;

 private:
  std::string root_;
};

// Sets a folder's permission bits for the object's lifetime.
class ModeChange {
 public:
  ModeChange(std::string path, unsigned mode);
  ModeChange(const ModeChange&) = delete;
  ModeChange& operator=(const ModeChange&) = delete;
  ~ModeChange();

 private:
  std::string path_;
  unsigned oldMode_;
};

}  // namespace quavelle::testing
