// Times the folder walk over the local file-system service against find(1) on
// the same generated tree, and compares peak memory for one large folder with
// the same number of files spread over ten folders.
#include <fcntl.h>
#include <sys/resource.h>
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

#include "core/LinkRetargeting.h"
#include "services/Text.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

namespace quavelle {
namespace {

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

// Runs argv as a child with its output thrown away; returns its resource usage.
rusage RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0) ::_exit(126);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  Check(::wait4(child, &status, 0, &usage) == child, "wait4");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed with status " + std::to_string(status));
  }
  return usage;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Stats {
  double best;
  double median;
};

Stats Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2]};
}

std::string SelfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

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
  std::vector<double> findTimes, walkTimes, bareTimes;
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
  const Stats f = Summarise(findTimes), w = Summarise(walkTimes), b = Summarise(bareTimes);
  std::printf("tree: %ld files in 1,000 leaf folders, %d rounds, warm cache\n", expected, kRounds);
  std::printf("  find -type f         best %7.1f ms  median %7.1f ms\n", f.best * 1e3,
              f.median * 1e3);
  std::printf("  walk                 best %7.1f ms  median %7.1f ms\n", w.best * 1e3,
              w.median * 1e3);
  std::printf("  walk without guard   best %7.1f ms  median %7.1f ms\n", b.best * 1e3,
              b.median * 1e3);
  std::printf("  walk / find          best %.2fx  median %.2fx  (goal <= 1.5x)\n", w.best / f.best,
              w.median / f.median);
  std::printf("  guard share of walk  %.0f%% (median)\n", 100.0 * (w.median - b.median) / w.median);

  // Each memory figure comes from a fresh process walking one tree.
  const std::string self = SelfPath();
  const long base = RunChild({self, "--walk", empty}).ru_maxrss;
  const long oneFolder = RunChild({self, "--walk", one}).ru_maxrss;
  const long tenFolders = RunChild({self, "--walk", ten}).ru_maxrss;
  std::printf("peak RSS, walking an empty folder                 %6ld KiB\n", base);
  std::printf("peak RSS, walking 1 folder of 100,000 files       %6ld KiB\n", oneFolder);
  std::printf("peak RSS, walking 10 folders of 10,000 files      %6ld KiB\n", tenFolders);
  std::printf("  one folder / ten folders  %.2fx  (growth over empty: %.2fx)\n",
              static_cast<double>(oneFolder) / tenFolders,
              static_cast<double>(oneFolder - base) / std::max(1L, tenFolders - base));
  return 0;
}

}  // namespace
}  // namespace quavelle

int main(int argc, char** argv) {
  // One walk in a fresh process, for its peak memory or for a profiler.
  if (argc == 3 && std::strcmp(argv[1], "--walk") == 0) {
    return quavelle::Walk(argv[2]) >= 0 ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--walk-unguarded") == 0) {
    quavelle::NoGuard none;
    return quavelle::WalkWith(none, argv[2]) >= 0 ? 0 : 1;
  }
  return quavelle::Benchmark();
}
