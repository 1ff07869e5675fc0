#include "TempTree.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "services/Text.h"

namespace quavelle::testing {
namespace fs = std::filesystem;
namespace {

void Check(bool ok, std::string_view what) {
  if (!ok) throw std::system_error(errno, std::generic_category(), std::string(what));
}

int InChild(bool (*prepare)(), int cannot, const std::function<int()>& body) {
  const pid_t child = ::fork();
  Check(child >= 0, "fork");
  // _exit: the child must not run the parent's test framework teardown.
  if (child == 0) ::_exit(prepare() ? body() : cannot);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) Check(errno == EINTR, "waitpid");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr unsigned kNobody = 65534;

bool DropPrivileges() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

bool OwnMountNamespace() {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

}  // namespace

TempTree::TempTree() {
  std::string pattern = "/tmp/quavelle-fs-XXXXXX";
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  root_ = pattern;
  fs::permissions(root_, fs::perms(0755));
}

TempTree::~TempTree() {
  std::error_code error;
  fs::remove_all(root_, error);
  if (error) std::cerr << "cannot remove '" << root_ << "': " << error.message() << '\n';
}

std::string TempTree::Native(std::string_view relative) const {
  return relative.empty() ? root_ : root_ + '/' + std::string(relative);
}

std::u16string TempTree::Text(std::string_view relative) const {
  return NativePathToText(Native(relative));
}

void TempTree::Folder(std::string_view relative) const { fs::create_directory(Native(relative)); }

void TempTree::File(std::string_view relative) const {
  Check(std::ofstream(Native(relative)).good(), "create");
}

void TempTree::Symlink(std::string_view target, std::string_view relative) const {
  fs::create_symlink(target, Native(relative));
}

void TempTree::HardLink(std::string_view existing, std::string_view relative) const {
  fs::create_hard_link(Native(existing), Native(relative));
}

void TempTree::Fifo(std::string_view relative) const {
  Check(::mkfifo(Native(relative).c_str(), 0644) == 0, "mkfifo");
}

void TempTree::Socket(std::string_view relative) const {
  const std::string path = Native(relative);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  Check(path.size() < sizeof(address.sun_path), "socket path length");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Check(fd >= 0, "socket");
  // Binding leaves the socket on disk after the descriptor closes.
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  Check(bound, "bind");
}

int RunUnprivileged(const std::function<int()>& body) {
  const int result = InChild(DropPrivileges, 255, body);
  return result == 255 ? -1 : result;
}

int RunInOwnMountNamespace(const std::function<int()>& body) {
  return InChild(OwnMountNamespace, kNoMount, body);
}

}  // namespace quavelle::testing
