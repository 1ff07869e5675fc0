#include "TempTree.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

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

int RunUnprivileged(const std::function<int()>& body) {
  constexpr unsigned kNobody = 65534;
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    const bool dropped = ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 &&
                                              ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
    // _exit: the child must not run the parent's test framework teardown.
    ::_exit(dropped ? body() : 255);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

}  // namespace quavelle::testing
