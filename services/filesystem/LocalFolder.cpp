#include "services/filesystem/LocalFolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "services/filesystem/ErrnoError.h"
#include "services/filesystem/NativeText.h"

namespace quavelle {
namespace {

class DirectoryStream {
 public:
  explicit DirectoryStream(const std::string& path) : dir_(::opendir(path.c_str())) {
    if (dir_ == nullptr) throw ErrnoError(errno);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  ~DirectoryStream() { ::closedir(dir_); }

  // The next entry, or nullptr at the end.
  const dirent* Read() {
    errno = 0;
    const dirent* entry = ::readdir(dir_);
    if (entry == nullptr && errno != 0) throw ErrnoError(errno);
    return entry;
  }

  int Descriptor() const { return ::dirfd(dir_); }

 private:
  DIR* dir_;
};

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Which entries a collection hands out: regular files or folders, each also
// when reached through a symbolic link. Pipes, sockets and devices are neither.
enum class Wanted { kFiles, kFolders };

bool HasWantedType(mode_t mode, Wanted wanted) {
  return wanted == Wanted::kFiles ? S_ISREG(mode) : S_ISDIR(mode);
}

// Follows links and fills in types the directory did not record.
bool TargetIsWanted(const DirectoryStream& dir, const char* name, Wanted wanted) {
  struct stat st {};
  if (::fstatat(dir.Descriptor(), name, &st, 0) != 0) {
    // A dangling or looping link, or an entry removed since it was read.
    if (NamesNothing(errno)) return false;
    throw ErrnoError(errno);
  }
  return HasWantedType(st.st_mode, wanted);
}

bool IsWanted(const DirectoryStream& dir, const dirent& entry, Wanted wanted) {
  switch (entry.d_type) {
    case DT_REG:
      return wanted == Wanted::kFiles;
    case DT_DIR:
      return wanted == Wanted::kFolders && !IsDotOrDotDot(entry.d_name);
    case DT_LNK:
    case DT_UNKNOWN:
      return !IsDotOrDotDot(entry.d_name) && TargetIsWanted(dir, entry.d_name, wanted);
    default:
      return false;
  }
}

// Holds its folder's text shared with its siblings and its own name as read, so
// that handing out a file copies no path; Path() joins the two.
class LocalFile final : public File {
 public:
  LocalFile(std::shared_ptr<const std::u16string> folderPrefix, std::string_view name)
      : folderPrefix_(std::move(folderPrefix)), name_(name) {}

  std::u16string Path() override {
    std::u16string path;
    path.reserve(folderPrefix_->size() + name_.size());
    path += *folderPrefix_;
    AppendNativeAsText(path, name_);
    return path;
  }

 private:
  std::shared_ptr<const std::u16string> folderPrefix_;
  std::string name_;
};

template <class T>
class ChildEnumerator;

template <>
class ChildEnumerator<File> final : public Enumerator<File> {
 public:
  explicit ChildEnumerator(const std::string& folderPath)
      : dir_(folderPath), prefix_(std::make_shared<const std::u16string>(TextPrefix(folderPath))) {}

  std::unique_ptr<File> Next() override {
    while (const dirent* entry = dir_.Read()) {
      if (IsWanted(dir_, *entry, Wanted::kFiles)) {
        return std::make_unique<LocalFile>(prefix_, entry->d_name);
      }
    }
    return nullptr;
  }

 private:
  static std::u16string TextPrefix(const std::string& folderPath) {
    std::u16string prefix;
    AppendNativeAsText(prefix, folderPath);
    if (prefix != u"/") prefix += u'/';
    return prefix;
  }

  DirectoryStream dir_;
  std::shared_ptr<const std::u16string> prefix_;
};

template <>
class ChildEnumerator<Folder> final : public Enumerator<Folder> {
 public:
  explicit ChildEnumerator(const std::string& folderPath)
      : dir_(folderPath), prefix_(folderPath == "/" ? folderPath : folderPath + '/') {}

  std::unique_ptr<Folder> Next() override {
    while (const dirent* entry = dir_.Read()) {
      if (IsWanted(dir_, *entry, Wanted::kFolders)) return MakeLocalFolder(prefix_ + entry->d_name);
    }
    return nullptr;
  }

 private:
  DirectoryStream dir_;
  std::string prefix_;
};

template <class T>
class Children final : public Collection<T> {
 public:
  explicit Children(std::string folderPath) : folderPath_(std::move(folderPath)) {}

  std::unique_ptr<Enumerator<T>> NewEnum() override {
    return std::make_unique<ChildEnumerator<T>>(folderPath_);
  }

 private:
  std::string folderPath_;
};

class LocalFolder final : public Folder {
 public:
  explicit LocalFolder(std::string nativePath) : nativePath_(std::move(nativePath)) {}

  std::unique_ptr<Collection<File>> Files() override {
    return std::make_unique<Children<File>>(nativePath_);
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    return std::make_unique<Children<Folder>>(nativePath_);
  }
  std::u16string Path() override {
    std::u16string path;
    AppendNativeAsText(path, nativePath_);
    return path;
  }

 private:
  std::string nativePath_;
};

}  // namespace

std::unique_ptr<Folder> MakeLocalFolder(std::string nativePath) {
  return std::make_unique<LocalFolder>(std::move(nativePath));
}

}  // namespace quavelle
