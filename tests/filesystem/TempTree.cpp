#include "TempTree.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "services/Text.h"

namespace quavelle::testing {
namespace {

void Check(bool ok, std::string_view what, std::string_view path) {
  if (!ok) {
    throw std::system_error(errno, std::generic_category(),
                            std::string(what) + " '" + std::string(path) + "'");
  }
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

TempTree::TempTree() {
  std::string pattern = "/tmp/quavelle-fs-XXXXXX";
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp", pattern);
  root_ = pattern;
  // Others may enter, so that an unprivileged child can reach what is inside.
  Check(::chmod(root_.c_str(), 0755) == 0, "chmod", root_);
}

TempTree::~TempTree() {
  std::error_code error;
  std::filesystem::remove_all(root_, error);
  if (error) std::cerr << "cannot remove '" << root_ << "': " << error.message() << '\n';
}

std::string TempTree::Native(std::string_view relative) const {
  return relative.empty() ? root_ : root_ + '/' + std::string(relative);
}

std::u16string TempTree::Text(std::string_view relative) const {
  return NativePathToText(Native(relative));
}

void TempTree::Folder(std::string_view relative) const {
  const std::string path = Native(relative);
  Check(::mkdir(path.c_str(), 0755) == 0, "mkdir", path);
}

void TempTree::File(std::string_view relative, std::string_view content) const {
  const std::string path = Native(relative);
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  Check(fd.get() >= 0, "create", path);
  Check(::write(fd.get(), content.data(), content.size()) == static_cast<ssize_t>(content.size()),
        "write", path);
}

void TempTree::Symlink(std::string_view target, std::string_view relative) const {
  const std::string path = Native(relative);
  Check(::symlink(std::string(target).c_str(), path.c_str()) == 0, "symlink", path);
}

void TempTree::HardLink(std::string_view existing, std::string_view relative) const {
  const std::string path = Native(relative);
  Check(::link(Native(existing).c_str(), path.c_str()) == 0, "link", path);
}

void TempTree::Fifo(std::string_view relative) const {
  const std::string path = Native(relative);
  Check(::mkfifo(path.c_str(), 0644) == 0, "mkfifo", path);
}

void TempTree::Socket(std::string_view relative) const {
  const std::string path = Native(relative);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) throw std::length_error("socket path too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  Check(fd.get() >= 0, "socket", path);
  // Binding leaves the socket on disk after the descriptor closes.
  Check(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0, "bind",
        path);
}

std::string TempTree::Read(std::string_view relative) const {
  std::ifstream in(Native(relative), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read '" + Native(relative) + "'");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

ModeChange::ModeChange(std::string path, unsigned mode) : path_(std::move(path)) {
  struct stat st {};
  Check(::stat(path_.c_str(), &st) == 0, "stat", path_);
  oldMode_ = st.st_mode & 07777;
  Check(::chmod(path_.c_str(), mode) == 0, "chmod", path_);
}

ModeChange::~ModeChange() {
  if (::chmod(path_.c_str(), oldMode_) != 0)
    std::cerr << "cannot restore mode of '" << path_ << "'\n";
}

}  // namespace quavelle::testing
