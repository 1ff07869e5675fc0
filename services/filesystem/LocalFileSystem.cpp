#include "services/filesystem/LocalFileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "services/ServiceError.h"
#include "services/filesystem/DriveName.h"
#include "services/filesystem/ErrnoError.h"
#include "services/filesystem/ListedEntry.h"
#include "services/filesystem/LocalFolder.h"
#include "services/filesystem/NativeText.h"

namespace quavelle {
namespace {

ServiceError PathNotFound() { return ServiceError(error_number::kPathNotFound, u"Path not found"); }

std::string CurrentDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) throw ErrnoError(errno);
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

// Relative paths hang below the current folder as typed ("." and ".." stay);
// trailing separators go so that children read "<folder>/<name>".
std::string AbsoluteFolderPath(std::string path) {
  if (path.front() != '/') {
    std::string current = CurrentDirectory();
    if (current.back() != '/') current += '/';
    path.insert(0, current);
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

class LocalFileSystem final : public FileSystemService {
 public:
  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
    std::string native;
    if (path.empty() || !TextToNativePathExactly(path, native)) throw PathNotFound();
    native = AbsoluteFolderPath(std::move(native));
    // A folder a listing has just handed out is one: asked once, not twice.
    if (std::string& listed = LastListedFolder(); listed == native) {
      listed.clear();
      return MakeLocalFolder(std::move(native));
    }
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) throw ErrnoError(errno);
    if (!S_ISDIR(st.st_mode)) throw PathNotFound();
    return MakeLocalFolder(std::move(native));
  }

  std::u16string GetDriveName(const std::u16string& path) override { return DriveNameOf(path); }

  // The folder picker offers one drive here: the root of the one tree.
  bool DriveExists(const std::u16string& drive) override { return drive == u"/"; }
};

}  // namespace

std::unique_ptr<FileSystemService> CreateLocalFileSystem() {
  return std::make_unique<LocalFileSystem>();
}

}  // namespace quavelle
