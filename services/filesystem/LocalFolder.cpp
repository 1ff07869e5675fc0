#include "services/filesystem/LocalFolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "services/Text.h"
#include "services/filesystem/ErrnoError.h"

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

class LocalFile final : public File {
 public:
  explicit LocalFile(std::string nativePath) : nativePath_(std::move(nativePath)) {}
  std::u16string Path() override { return NativePathToText(nativePath_); }

 private:
  std::string nativePath_;
};

template <class T>
std::unique_ptr<T> MakeChild(std::string nativePath);

template <>
std::unique_ptr<File> MakeChild<File>(std::string nativePath) {
  return std::make_unique<LocalFile>(std::move(nativePath));
}

template <>
std::unique_ptr<Folder> MakeChild<Folder>(std::string nativePath) {
  return MakeLocalFolder(std::move(nativePath));
}

template <class T>
class ChildEnumerator final : public Enumerator<T> {
 public:
  ChildEnumerator(const std::string& folderPath, Wanted wanted)
      : dir_(folderPath),
        prefix_(folderPath == "/" ? folderPath : folderPath + '/'),
        wanted_(wanted) {}

  std::unique_ptr<T> Next() override {
    while (const dirent* entry = dir_.Read()) {
      if (IsWanted(dir_, *entry, wanted_)) return MakeChild<T>(prefix_ + entry->d_name);
    }
    return nullptr;
  }

 private:
  DirectoryStream dir_;
  std::string prefix_;
  Wanted wanted_;
};

template <class T>
class Children final : public Collection<T> {
 public:
  Children(std::string folderPath, Wanted wanted)
      : folderPath_(std::move(folderPath)), wanted_(wanted) {}

  std::unique_ptr<Enumerator<T>> NewEnum() override {
    return std::make_unique<ChildEnumerator<T>>(folderPath_, wanted_);
  }

 private:
  std::string folderPath_;
  Wanted wanted_;
};

class LocalFolder final : public Folder {
 public:
  explicit LocalFolder(std::string nativePath) : nativePath_(std::move(nativePath)) {}

  std::unique_ptr<Collection<File>> Files() override {
    return std::make_unique<Children<File>>(nativePath_, Wanted::kFiles);
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    return std::make_unique<Children<Folder>>(nativePath_, Wanted::kFolders);
  }
  std::u16string Path() override { return NativePathToText(nativePath_); }

 private:
  std::string nativePath_;
};

}  // namespace

std::unique_ptr<Folder> MakeLocalFolder(std::string nativePath) {
  return std::make_unique<LocalFolder>(std::move(nativePath));
}

}  // namespace quavelle
