// Times the folder walk over the local file-system service against find(1) on
// the same generated tree, at rest and right after every folder was touched,
// and compares peak memory for one large folder with the same number of files
// spread over ten folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "bench/support/BenchTools.h"
#include "core/LinkRetargeting.h"
#include "services/Text.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

namespace quavelle {
namespace {

using bench::Seconds;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::system_error(errno, std::generic_category(), what);
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = "/tmp/quavelle-walk-XXXXXX";
    Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error)
      std::fprintf(stderr, "cannot remove %s: %s\n", path_.c_str(), error.message().c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void MakeFolder(const std::string& path) {
  Check(::mkdir(path.c_str(), 0755) == 0, "mkdir " + path);
}

void MakeFiles(const std::string& folder, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string path = folder + "/document-" + std::to_string(i) + ".doc";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    Check(fd >= 0, "create " + path);
    ::close(fd);
  }
}

// fanout^depth leaf folders, each with filesPerLeaf files.
void MakeNestedTree(const std::string& root, int fanout, int depth, int filesPerLeaf) {
  if (depth == 0) return MakeFiles(root, filesPerLeaf);
  for (int i = 0; i < fanout; ++i) {
    const std::string sub = root + "/folder-" + std::to_string(i);
    MakeFolder(sub);
    MakeNestedTree(sub, fanout, depth - 1, filesPerLeaf);
  }
}

// Sets every folder's times to now, as if each had just gained or lost an entry.
void TouchFolders(const std::string& root) {
  Check(::utimensat(AT_FDCWD, root.c_str(), nullptr, 0) == 0, "utimensat " + root);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) continue;
    const std::string path = entry.path().string();
    Check(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0, "utimensat " + path);
  }
}

class NoLinksDocument final : public Document {
 public:
  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
  std::u16string FullName() override { return {}; }
};

class CountingDocumentServer final : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string&) override {
    ++opened;
    return std::make_unique<NoLinksDocument>();
  }
  long opened = 0;
};

class NoResults final : public ResultsList {
 public:
  void Clear() override {}
  void AppendRow(const std::u16string&, const std::u16string&, const std::u16string&) override {}
};

// Lets everything through: the walk's cost without identities.
class NoGuard final : public WalkGuard {
 public:
  bool FirstVisit(const std::u16string&) override { return true; }
};

long WalkWith(WalkGuard& guard, const std::string& root) {
  auto fso = CreateLocalFileSystem();
  CountingDocumentServer server;
  NoResults results;
  RunContext ctx{u"C:", u"D:", server, *fso, results, guard};
  ProcessFolder(ctx, NativePathToText(root));
  return server.opened;
}

long Walk(const std::string& root) {
  auto guard = CreateLocalWalkGuard();
  return WalkWith(*guard, root);
}

std::string SelfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

// Runs argv as a child and waits for it; returns what it wrote, or nothing when
// its output is thrown away.
std::string RunChild(const std::vector<std::string>& args, bool keepOutput = false) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (keepOutput) Check(::pipe2(pipeFds, O_CLOEXEC) == 0, "pipe");
  const pid_t child = ::fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    const int out = keepOutput ? pipeFds[1] : ::open("/dev/null", O_WRONLY);
    if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) ::_exit(126);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  std::string output;
  if (keepOutput) {
    ::close(pipeFds[1]);
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) output.append(buffer, n);
    ::close(pipeFds[0]);
  }
  int status = 0;
  Check(::waitpid(child, &status, 0) == child, "waitpid");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed with status " + std::to_string(status));
  }
  return output;
}

// The peak resident size of this process so far, from the kernel's own record.
long PeakKiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  Check(status != nullptr, "open /proc/self/status");
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

// Peak memory of a fresh process that walks root once.
long PeakKiBOfWalk(const std::string& mode, const std::string& root) {
  return std::stol(RunChild({SelfPath(), mode, root}, true));
}

struct Stats {
  double best;
  double median;
};

Stats Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2]};
}

int Benchmark() {
  constexpr int kRounds = 7;
  TempFolder tmp;
  const std::string nested = tmp.path() + "/nested";
  const std::string one = tmp.path() + "/one";
  const std::string ten = tmp.path() + "/ten";
  const std::string empty = tmp.path() + "/empty";
  for (const std::string& f : {nested, one, ten, empty}) MakeFolder(f);

  std::printf("generating trees under %s ...\n", tmp.path().c_str());
  MakeNestedTree(nested, 10, 3, 100);  // 1,000 leaf folders, 100,000 files
  MakeFiles(one, 100000);
  MakeNestedTree(ten, 10, 1, 10000);

  const long expected = 100000;
  std::vector<double> findTimes, walkTimes, bareTimes, touchedTimes;
  const std::vector<std::string> find = {"find", nested, "-type", "f"};
  RunChild(find);  // warm the cache
  if (Walk(nested) != expected) throw std::runtime_error("the walk missed files");
  for (int round = 0; round < kRounds; ++round) {
    findTimes.push_back(Seconds([&] { RunChild(find); }));
    walkTimes.push_back(Seconds([&] { Walk(nested); }));
    bareTimes.push_back(Seconds([&] {
      NoGuard none;
      WalkWith(none, nested);
    }));
  }
  // Last, since the other walks would see the touched folders too: a folder
  // changed a moment ago is read a second time for its subfolders.
  for (int round = 0; round < kRounds; ++round) {
    TouchFolders(nested);
    touchedTimes.push_back(Seconds([&] { Walk(nested); }));
  }
  const Stats f = Summarise(findTimes), w = Summarise(walkTimes), b = Summarise(bareTimes);
  const Stats t = Summarise(touchedTimes);
  std::printf("tree: %ld files in 1,000 leaf folders, %d rounds, warm cache\n", expected, kRounds);
  std::printf("  find -type f         best %7.1f ms  median %7.1f ms\n", f.best * 1e3,
              f.median * 1e3);
  std::printf("  walk                 best %7.1f ms  median %7.1f ms\n", w.best * 1e3,
              w.median * 1e3);
  std::printf("  walk without guard   best %7.1f ms  median %7.1f ms\n", b.best * 1e3,
              b.median * 1e3);
  std::printf("  walk, all just changed best %6.1f ms  median %7.1f ms\n", t.best * 1e3,
              t.median * 1e3);
  std::printf("  walk / find          best %.2fx  median %.2fx  (goal <= 1.5x)\n", w.best / f.best,
              w.median / f.median);
  std::printf("  touched / find       best %.2fx  median %.2fx\n", t.best / f.best,
              t.median / f.median);
  std::printf("  unguarded / find     best %.2fx  median %.2fx\n", b.best / f.best,
              b.median / f.median);
  std::printf("  guard share of walk  %.0f%% (median)\n", 100.0 * (w.median - b.median) / w.median);

  // Each memory figure comes from a fresh process walking one tree once.
  std::printf("peak RSS of one walk             guarded     unguarded\n");
  struct Tree {
    const char* name;
    const std::string& root;
    long guarded, unguarded;
  };
  Tree trees[] = {{"empty folder", empty, 0, 0},
                  {"1 folder of 100,000 files", one, 0, 0},
                  {"10 folders of 10,000 files", ten, 0, 0}};
  for (Tree& t : trees) {
    t.guarded = PeakKiBOfWalk("--walk", t.root);
    t.unguarded = PeakKiBOfWalk("--walk-unguarded", t.root);
    std::printf("  %-28s %8ld KiB  %8ld KiB\n", t.name, t.guarded, t.unguarded);
  }
  std::printf("  1 folder / 10 folders        %8.2fx  %8.2fx\n",
              static_cast<double>(trees[1].guarded) / trees[2].guarded,
              static_cast<double>(trees[1].unguarded) / trees[2].unguarded);
  std::printf("  identity table per file      %8.1f B\n",
              (trees[1].guarded - trees[1].unguarded) * 1024.0 / expected);
  return 0;
}

}  // namespace
}  // namespace quavelle

int main(int argc, char** argv) {
  // One walk in a fresh process, for its peak memory or for a profiler.
  if (argc == 3 && std::strcmp(argv[1], "--walk") == 0) {
    quavelle::Walk(argv[2]);
    std::printf("%ld\n", quavelle::PeakKiB());
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--walk-unguarded") == 0) {
    quavelle::NoGuard none;
    quavelle::WalkWith(none, argv[2]);
    std::printf("%ld\n", quavelle::PeakKiB());
    return 0;
  }
  return quavelle::Benchmark();
}
