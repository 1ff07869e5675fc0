// A pass-through file system that waits a set time before answering each
// request and counts the requests, so that a program's cost on a slow network
// share can be measured on any machine.
//
//   latencyfs SOURCE MOUNTPOINT [-o delay_us=N,walker_pid=TID] [FUSE options]
//
// Reading MOUNTPOINT/.latencyfs-stats (neither delayed nor counted) gives
// "total N", "walker N" (the requests made by thread TID) and one line per
// kind of request.
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace {

enum Op {
  kGetattr,
  kAccess,
  kReadlink,
  kOpendir,
  kReaddir,
  kReleasedir,
  kFsyncdir,
  kMknod,
  kMkdir,
  kSymlink,
  kUnlink,
  kRmdir,
  kRename,
  kLink,
  kChmod,
  kChown,
  kTruncate,
  kUtimens,
  kOpen,
  kCreate,
  kRead,
  kWrite,
  kStatfs,
  kFlush,
  kRelease,
  kFsync,
  kSetxattr,
  kGetxattr,
  kListxattr,
  kRemovexattr,
  kOpCount
};
constexpr std::array<const char*, kOpCount> kOpNames = {
    "getattr",  "access",  "readlink", "opendir",  "readdir",   "releasedir", "fsyncdir", "mknod",
    "mkdir",    "symlink", "unlink",   "rmdir",    "rename",    "link",       "chmod",    "chown",
    "truncate", "utimens", "open",     "create",   "read",      "write",      "statfs",   "flush",
    "release",  "fsync",   "setxattr", "getxattr", "listxattr", "removexattr"};

constexpr std::string_view kStatsPath = "/.latencyfs-stats";

struct Options {
  char* source = nullptr;
  unsigned delayUs = 0;
  unsigned walkerPid = 0;  // the thread whose requests are also counted apart
};
Options options;
int sourceFd = -1;
std::array<std::atomic<unsigned long long>, kOpCount> counts{};
std::atomic<unsigned long long> walkerCount{0};

// One request: counted, then delayed.
void Request(Op op) {
  counts[op].fetch_add(1, std::memory_order_relaxed);
  const fuse_context* context = fuse_get_context();
  if (options.walkerPid != 0 && context != nullptr &&
      static_cast<unsigned>(context->pid) == options.walkerPid)
    walkerCount.fetch_add(1, std::memory_order_relaxed);
  if (options.delayUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(options.delayUs));
}

// The path below the source folder, relative, as the *at calls take it.
std::string Rel(const char* path) {
  while (*path == '/') ++path;
  return *path ? std::string(path) : std::string(".");
}

int Result(int r) { return r < 0 ? -errno : r; }

std::string StatsText() {
  unsigned long long total = 0;
  std::string text;
  for (int op = 0; op < kOpCount; ++op) {
    const unsigned long long n = counts[op].load();
    total += n;
    if (n > 0) text += std::string(kOpNames[op]) + " " + std::to_string(n) + "\n";
  }
  return "total " + std::to_string(total) + "\nwalker " + std::to_string(walkerCount.load()) +
         "\n" + text;
}

void* Init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 1;
  cfg->nullpath_ok = 0;
  return nullptr;
}

int Getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  if (path == kStatsPath) {
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = 4096;
    return 0;
  }
  Request(kGetattr);
  if (fi != nullptr) return Result(::fstat(static_cast<int>(fi->fh), st));
  return Result(::fstatat(sourceFd, Rel(path).c_str(), st, AT_SYMLINK_NOFOLLOW));
}

int Access(const char* path, int mask) {
  Request(kAccess);
  return Result(::faccessat(sourceFd, Rel(path).c_str(), mask, 0));
}

int Readlink(const char* path, char* buf, size_t size) {
  Request(kReadlink);
  ssize_t n = ::readlinkat(sourceFd, Rel(path).c_str(), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

int Opendir(const char* path, fuse_file_info* fi) {
  Request(kOpendir);
  int fd = ::openat(sourceFd, Rel(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    int error = errno;
    ::close(fd);
    return -error;
  }
  fi->fh = reinterpret_cast<uint64_t>(dir);
  return 0;
}

int Readdir(const char*, void* buf, fuse_fill_dir_t filler, off_t offset, fuse_file_info* fi,
            fuse_readdir_flags) {
  Request(kReaddir);
  DIR* dir = reinterpret_cast<DIR*>(fi->fh);
  if (offset != 0)
    ::seekdir(dir, offset);
  else
    ::rewinddir(dir);
  while (true) {
    errno = 0;
    dirent* entry = ::readdir(dir);
    if (entry == nullptr) return errno != 0 ? -errno : 0;
    struct stat st {};
    st.st_ino = entry->d_ino;
    st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
    if (filler(buf, entry->d_name, &st, entry->d_off, static_cast<fuse_fill_dir_flags>(0)) != 0) {
      return 0;
    }
  }
}

int Releasedir(const char*, fuse_file_info* fi) {
  Request(kReleasedir);
  ::closedir(reinterpret_cast<DIR*>(fi->fh));
  return 0;
}

int Fsyncdir(const char*, int datasync, fuse_file_info* fi) {
  Request(kFsyncdir);
  int fd = ::dirfd(reinterpret_cast<DIR*>(fi->fh));
  return Result(datasync ? ::fdatasync(fd) : ::fsync(fd));
}

int Mkdir(const char* path, mode_t mode) {
  Request(kMkdir);
  return Result(::mkdirat(sourceFd, Rel(path).c_str(), mode));
}

int Symlink(const char* target, const char* path) {
  Request(kSymlink);
  return Result(::symlinkat(target, sourceFd, Rel(path).c_str()));
}

int Unlink(const char* path) {
  Request(kUnlink);
  return Result(::unlinkat(sourceFd, Rel(path).c_str(), 0));
}

int Rmdir(const char* path) {
  Request(kRmdir);
  return Result(::unlinkat(sourceFd, Rel(path).c_str(), AT_REMOVEDIR));
}

int Rename(const char* from, const char* to, unsigned int flags) {
  Request(kRename);
  return Result(::renameat2(sourceFd, Rel(from).c_str(), sourceFd, Rel(to).c_str(), flags));
}

int Link(const char* from, const char* to) {
  Request(kLink);
  return Result(::linkat(sourceFd, Rel(from).c_str(), sourceFd, Rel(to).c_str(), 0));
}

int Chmod(const char* path, mode_t mode, fuse_file_info* fi) {
  Request(kChmod);
  if (fi != nullptr) return Result(::fchmod(static_cast<int>(fi->fh), mode));
  return Result(::fchmodat(sourceFd, Rel(path).c_str(), mode, 0));
}

int Chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  Request(kChown);
  if (fi != nullptr) return Result(::fchown(static_cast<int>(fi->fh), uid, gid));
  return Result(::fchownat(sourceFd, Rel(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  Request(kTruncate);
  if (fi != nullptr) return Result(::ftruncate(static_cast<int>(fi->fh), size));
  int fd = ::openat(sourceFd, Rel(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  int r = Result(::ftruncate(fd, size));
  ::close(fd);
  return r;
}

int Utimens(const char* path, const timespec times[2], fuse_file_info* fi) {
  Request(kUtimens);
  if (fi != nullptr) return Result(::futimens(static_cast<int>(fi->fh), times));
  return Result(::utimensat(sourceFd, Rel(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int Open(const char* path, fuse_file_info* fi) {
  if (path == kStatsPath) {
    fi->fh = static_cast<uint64_t>(-1);
    fi->direct_io = 1;
    return 0;
  }
  Request(kOpen);
  int fd = ::openat(sourceFd, Rel(path).c_str(), (fi->flags & ~O_NOFOLLOW) | O_CLOEXEC);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  Request(kCreate);
  int fd = ::openat(sourceFd, Rel(path).c_str(), fi->flags | O_CREAT | O_CLOEXEC, mode);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (fi->fh == static_cast<uint64_t>(-1)) {
    const std::string text = StatsText();
    if (offset >= static_cast<off_t>(text.size())) return 0;
    const size_t n = std::min(size, text.size() - static_cast<size_t>(offset));
    std::memcpy(buf, text.data() + offset, n);
    return static_cast<int>(n);
  }
  Request(kRead);
  return Result(static_cast<int>(::pread(static_cast<int>(fi->fh), buf, size, offset)));
}

int Write(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  Request(kWrite);
  return Result(static_cast<int>(::pwrite(static_cast<int>(fi->fh), buf, size, offset)));
}

int Statfs(const char*, struct statvfs* st) {
  Request(kStatfs);
  return Result(::fstatvfs(sourceFd, st));
}

int Flush(const char*, fuse_file_info* fi) {
  if (fi->fh == static_cast<uint64_t>(-1)) return 0;
  Request(kFlush);
  return 0;
}

int Release(const char*, fuse_file_info* fi) {
  if (fi->fh == static_cast<uint64_t>(-1)) return 0;
  Request(kRelease);
  ::close(static_cast<int>(fi->fh));
  return 0;
}

int Fsync(const char*, int datasync, fuse_file_info* fi) {
  Request(kFsync);
  int fd = static_cast<int>(fi->fh);
  return Result(datasync ? ::fdatasync(fd) : ::fsync(fd));
}

// Extended attributes by path: the *at forms do not exist, so through /proc.
std::string ProcPath(const char* path) {
  return "/proc/self/fd/" + std::to_string(sourceFd) + "/" + Rel(path);
}

int Setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  Request(kSetxattr);
  return Result(::lsetxattr(ProcPath(path).c_str(), name, value, size, flags));
}

int Getxattr(const char* path, const char* name, char* value, size_t size) {
  Request(kGetxattr);
  return Result(static_cast<int>(::lgetxattr(ProcPath(path).c_str(), name, value, size)));
}

int Listxattr(const char* path, char* list, size_t size) {
  Request(kListxattr);
  return Result(static_cast<int>(::llistxattr(ProcPath(path).c_str(), list, size)));
}

int Removexattr(const char* path, const char* name) {
  Request(kRemovexattr);
  return Result(::lremovexattr(ProcPath(path).c_str(), name));
}

fuse_operations Operations() {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = Getattr;
  ops.access = Access;
  ops.readlink = Readlink;
  ops.opendir = Opendir;
  ops.readdir = Readdir;
  ops.releasedir = Releasedir;
  ops.fsyncdir = Fsyncdir;
  ops.mkdir = Mkdir;
  ops.symlink = Symlink;
  ops.unlink = Unlink;
  ops.rmdir = Rmdir;
  ops.rename = Rename;
  ops.link = Link;
  ops.chmod = Chmod;
  ops.chown = Chown;
  ops.truncate = Truncate;
  ops.utimens = Utimens;
  ops.open = Open;
  ops.create = Create;
  ops.read = Read;
  ops.write = Write;
  ops.statfs = Statfs;
  ops.flush = Flush;
  ops.release = Release;
  ops.fsync = Fsync;
  ops.setxattr = Setxattr;
  ops.getxattr = Getxattr;
  ops.listxattr = Listxattr;
  ops.removexattr = Removexattr;
  return ops;
}

const fuse_opt kOptionSpec[] = {{"delay_us=%u", offsetof(Options, delayUs), 0},
                                {"walker_pid=%u", offsetof(Options, walkerPid), 0},
                                FUSE_OPT_END};

int TakeSource(void* data, const char* arg, int key, fuse_args*) {
  auto* opts = static_cast<Options*>(data);
  if (key == FUSE_OPT_KEY_NONOPT && opts->source == nullptr) {
    opts->source = ::realpath(arg, nullptr);
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &options, kOptionSpec, TakeSource) != 0 || options.source == nullptr) {
    std::fprintf(stderr,
                 "usage: %s SOURCE MOUNTPOINT [-o delay_us=N,walker_pid=TID] [FUSE options]\n",
                 argv[0]);
    return 2;
  }
  sourceFd = ::open(options.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (sourceFd < 0) {
    std::perror(options.source);
    return 1;
  }
  const fuse_operations ops = Operations();
  int result = fuse_main(args.argc, args.argv, &ops, nullptr);
  fuse_opt_free_args(&args);
  std::free(options.source);
  return result;
}
