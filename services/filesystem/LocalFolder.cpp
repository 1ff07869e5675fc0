#include "services/filesystem/LocalFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "services/filesystem/DirectoryStamp.h"
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

// The subfolder entries a complete files listing passed over, and the stamp of
// the directory taken before it read any entry.
struct PassedFolders {
  DirectoryStamp stamp;
  std::vector<std::string> names;
};

// What a folder's files listing leaves for its subfolders listing: while the
// directory is unchanged, the subfolders need not be read from it a second time.
struct FolderListings {
  std::optional<PassedFolders> passed;
};

struct FolderFacts {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t fileSystemType = 0;  // 0 when unknown, which no file system is
  std::optional<DirectoryStamp> settled;
};

// Read from the open directory itself, so that they describe the folder whose
// entries are listed even if its path is re-pointed meanwhile.
FolderFacts FactsOf(const DirectoryStream& dir) {
  FolderFacts facts;
  timespec now{};
  struct stat st {};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || ::fstat(dir.Descriptor(), &st) != 0) {
    return facts;
  }
#ifdef __linux__
  struct statfs fs {};
  if (::fstatfs(dir.Descriptor(), &fs) != 0) return facts;
  // f_type is a signed word of either width; the magic numbers are 32-bit patterns.
  facts.fileSystemType = static_cast<std::uint32_t>(fs.f_type);
#endif
  facts.device = st.st_dev;
  facts.inode = st.st_ino;
  const DirectoryStamp stamp{st.st_dev,          st.st_ino,         st.st_mtim.tv_sec,
                             st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  facts.settled = SettledStamp(stamp, facts.fileSystemType, now.tv_sec, now.tv_nsec);
  return facts;
}

std::string ChildPrefix(const std::string& folderPath) {
  return folderPath == "/" ? folderPath : folderPath + '/';
}

template <class T>
class ChildEnumerator;

// Also records each file it hands out as this thread's last listed entry, for
// the walk guard (see ListedEntry.h), and the subfolders it passes over.
template <>
class ChildEnumerator<File> final : public Enumerator<File> {
 public:
  ChildEnumerator(const std::string& folderPath, std::shared_ptr<FolderListings> listings)
      : dir_(folderPath),
        prefix_(std::make_shared<const std::u16string>(TextPrefix(folderPath))),
        nativePrefix_(ChildPrefix(folderPath)),
        folder_(FactsOf(dir_)),
        listings_(std::move(listings)) {}
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
      if (folder_.settled) NotePassedFolder(*entry);
      if (verdict == Verdict::kSkipped) continue;
      Record(*entry, verdict, st);
      return std::make_unique<LocalFile>(prefix_, entry->d_name);
    }
    if (folder_.settled) {
      listings_->passed = PassedFolders{*folder_.settled, std::move(passedFolders_)};
      folder_.settled.reset();
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

  // Only folders the directory records as such are kept. What a link or an
  // entry of unrecorded type is can change without the directory changing (a
  // link to a file whose target becomes a folder): then the subfolders are read
  // afresh.
  void NotePassedFolder(const dirent& entry) {
    if (entry.d_type == DT_DIR && !IsDotOrDotDot(entry.d_name)) {
      passedFolders_.emplace_back(entry.d_name);
    } else if (entry.d_type == DT_LNK || entry.d_type == DT_UNKNOWN) {
      folder_.settled.reset();
    }
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
    last.device = folder_.device;
    last.inode = entry.d_ino;
    last.folderInode = folder_.inode;
    last.fileSystemType = folder_.fileSystemType;
  }

  DirectoryStream dir_;
  std::shared_ptr<const std::u16string> prefix_;
  std::string nativePrefix_;
  FolderFacts folder_;
  std::vector<std::string> passedFolders_;
  std::shared_ptr<FolderListings> listings_;
};

// Hands out what a files listing passed over when the directory still has the
// stamp it had before that listing, and otherwise reads the directory.
template <>
class ChildEnumerator<Folder> final : public Enumerator<Folder> {
 public:
  ChildEnumerator(const std::string& folderPath, const std::shared_ptr<FolderListings>& listings)
      : prefix_(ChildPrefix(folderPath)) {
    std::optional<PassedFolders> passed = std::exchange(listings->passed, std::nullopt);
    if (passed && StampOfPath(folderPath) == passed->stamp) {
      passed_ = std::move(passed->names);
    } else {
      dir_.emplace(folderPath);
    }
  }

  std::unique_ptr<Folder> Next() override {
    if (!dir_) {
      if (next_ == passed_.size()) return nullptr;
      return HandOut(passed_[next_++]);
    }
    while (const dirent* entry = dir_->Read()) {
      if (IsWanted(*dir_, *entry, Wanted::kFolders)) return HandOut(entry->d_name);
    }
    return nullptr;
  }

 private:
  std::unique_ptr<Folder> HandOut(std::string_view name) {
    std::string& listed = LastListedFolder();
    listed.assign(prefix_).append(name);
    return MakeLocalFolder(listed);
  }

  std::string prefix_;
  std::optional<DirectoryStream> dir_;
  std::vector<std::string> passed_;
  std::size_t next_ = 0;
};

template <class T>
class Children final : public Collection<T> {
 public:
  Children(std::string folderPath, std::shared_ptr<FolderListings> listings)
      : folderPath_(std::move(folderPath)), listings_(std::move(listings)) {}

  std::unique_ptr<Enumerator<T>> NewEnum() override {
    return std::make_unique<ChildEnumerator<T>>(folderPath_, listings_);
  }

 private:
  std::string folderPath_;
  std::shared_ptr<FolderListings> listings_;
};

class LocalFolder final : public Folder {
 public:
  explicit LocalFolder(std::string nativePath) : nativePath_(std::move(nativePath)) {}

  std::unique_ptr<Collection<File>> Files() override {
    return std::make_unique<Children<File>>(nativePath_, listings_);
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    return std::make_unique<Children<Folder>>(nativePath_, listings_);
  }
  std::u16string Path() override {
    std::u16string path;
    AppendNativeAsText(path, nativePath_);
    return path;
  }

 private:
  std::string nativePath_;
  std::shared_ptr<FolderListings> listings_ = std::make_shared<FolderListings>();
};

}  // namespace

std::unique_ptr<Folder> MakeLocalFolder(std::string nativePath) {
  return std::make_unique<LocalFolder>(std::move(nativePath));
}

}  // namespace quavelle
