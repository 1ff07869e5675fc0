#include "services/filesystem/LocalFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "services/filesystem/ErrnoError.h"
#include "services/filesystem/ListedEntry.h"
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

// Follows links and fills in types the directory did not record; st then
// holds the target's status.
bool TargetIsWanted(const DirectoryStream& dir, const char* name, Wanted wanted, struct stat& st) {
  if (::fstatat(dir.Descriptor(), name, &st, 0) != 0) {
    // A dangling or looping link, or an entry removed since it was read.
    if (NamesNothing(errno)) return false;
    throw ErrnoError(errno);
  }
  return HasWantedType(st.st_mode, wanted);
}

enum class Verdict {
  kSkipped,
  kWantedByRecordedType,
  kWantedAfterFollowing,  // the target's status is at hand
};

Verdict Judge(const DirectoryStream& dir, const dirent& entry, Wanted wanted, struct stat& st) {
  bool wantedEntry = false;
  switch (entry.d_type) {
    case DT_REG:
      wantedEntry = wanted == Wanted::kFiles;
      break;
    case DT_DIR:
      wantedEntry = wanted == Wanted::kFolders && !IsDotOrDotDot(entry.d_name);
      break;
    case DT_LNK:
    case DT_UNKNOWN:
      if (!IsDotOrDotDot(entry.d_name) && TargetIsWanted(dir, entry.d_name, wanted, st)) {
        return Verdict::kWantedAfterFollowing;
      }
      return Verdict::kSkipped;
    default:
      break;
  }
  return wantedEntry ? Verdict::kWantedByRecordedType : Verdict::kSkipped;
}

bool IsWanted(const DirectoryStream& dir, const dirent& entry, Wanted wanted) {
  struct stat st {};
  return Judge(dir, entry, wanted, st) != Verdict::kSkipped;
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

// Also records each file it hands out as this thread's last listed entry, for
// the walk guard (see ListedEntry.h).
template <>
class ChildEnumerator<File> final : public Enumerator<File> {
 public:
  explicit ChildEnumerator(const std::string& folderPath)
      : dir_(folderPath),
        prefix_(std::make_shared<const std::u16string>(TextPrefix(folderPath))),
        nativePrefix_(folderPath == "/" ? folderPath : folderPath + '/') {}
  ChildEnumerator(const ChildEnumerator&) = delete;
  ChildEnumerator& operator=(const ChildEnumerator&) = delete;
  ~ChildEnumerator() override {
    ListedEntry& last = LastListedEntry();
    if (last.owner == this) last.owner = nullptr;
  }

  std::unique_ptr<File> Next() override {
    while (const dirent* entry = dir_.Read()) {
      struct stat st {};
      const Verdict verdict = Judge(dir_, *entry, Wanted::kFiles, st);
      if (verdict == Verdict::kSkipped) continue;
      Record(*entry, verdict, st);
      return std::make_unique<LocalFile>(prefix_, entry->d_name);
    }
    return nullptr;
  }

 private:
  struct FolderFacts {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t fileSystemType = 0;  // 0 when unknown, which no file system is
  };

  static std::u16string TextPrefix(const std::string& folderPath) {
    std::u16string prefix;
    AppendNativeAsText(prefix, folderPath);
    if (prefix != u"/") prefix += u'/';
    return prefix;
  }

  void Record(const dirent& entry, Verdict verdict, const struct stat& st) {
    ListedEntry& last = LastListedEntry();
    last.owner = this;
    last.path.assign(nativePrefix_).append(entry.d_name);
    last.followed = verdict == Verdict::kWantedAfterFollowing;
    if (last.followed) {
      last.device = st.st_dev;
      last.inode = st.st_ino;
      return;
    }
    const FolderFacts& folder = ListedFolder();
    last.device = folder.device;
    last.inode = entry.d_ino;
    last.folderInode = folder.inode;
    last.fileSystemType = folder.fileSystemType;
  }

  // Read from the open directory itself, so that they describe the folder whose
  // entries were listed even if its path has been re-pointed since.
  const FolderFacts& ListedFolder() {
    if (folder_) return *folder_;
    folder_.emplace();
    struct stat st {};
    if (::fstat(dir_.Descriptor(), &st) != 0) return *folder_;
#ifdef __linux__
    struct statfs fs {};
    if (::fstatfs(dir_.Descriptor(), &fs) != 0) return *folder_;
    // f_type is a signed word of either width; the magic numbers are 32-bit patterns.
    folder_->fileSystemType = static_cast<std::uint32_t>(fs.f_type);
#endif
    folder_->device = st.st_dev;
    folder_->inode = st.st_ino;
    return *folder_;
  }

  DirectoryStream dir_;
  std::shared_ptr<const std::u16string> prefix_;
  std::string nativePrefix_;
  std::optional<FolderFacts> folder_;
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
