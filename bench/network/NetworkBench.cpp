// A whole run (the folder walk, the local file system and the built-in
// document server) over a tree of real packages on a file system that answers
// each request after a set delay (latencyfs), against the same run on local
// disk, measured in the same process. Prints requests per file and ratios.
//
//   network_bench [--work DIR] [--folders F] [--files N] [--delays-us 0,500,2000]
//                 [--cache-s S]  (how long the kernel may keep names and
//                                 attributes; 1 as by default, 0 for a client
//                                 that asks every time)
//
// Needs /dev/fuse and the right to mount (root).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/docserver/BenchPackages.h"
#include "core/LinkRetargeting.h"
#include "core/ResultsList.h"
#include "core/RunContext.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

extern char** environ;

namespace quavelle::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  fs::path work = "netbench-data";
  int folders = 10;
  int files = 20;  // per folder
  std::vector<unsigned> delaysUs = {0, 500, 2000};
  std::string cacheSeconds = "1";  // how long the kernel keeps names and attributes
};

class CountingResults : public ResultsList {
 public:
  void Clear() override { rows = 0; }
  void AppendRow(const std::u16string&, const std::u16string&, const std::u16string&) override {
    ++rows;
  }
  std::size_t rows = 0;
};

int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + args[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Folders of packages: a third link to \\srv1 (re-pointed), the rest to C:,
// and one file in five is not a package at all.
void MakeTree(const fs::path& root, const Options& options) {
  std::mt19937_64 random(7);
  for (int f = 0; f < options.folders; ++f) {
    const fs::path folder =
        root / ("Folder " + std::to_string(f / 3)) / ("Sub " + std::to_string(f));
    fs::create_directories(folder);
    for (int i = 0; i < options.files; ++i) {
      const std::string stem = folder / ("File " + std::to_string(i));
      if (i % 5 == 4) {
        std::ofstream(stem + ".txt") << "notes " << i << '\n';
        continue;
      }
      const bool odt = i % 2 == 1;
      const std::vector<std::string> links = {
          i % 3 == 0 ? "\\\\srv1\\proj\\Budget " + std::to_string(i) + ".xlsx"
                     : "C:\\Data\\Plan " + std::to_string(i) + ".xlsx"};
      WritePackage(stem + (odt ? ".odt" : ".docx"),
                   WordProcessingPackage(odt, 24 << 10, links, random));
    }
  }
}

std::size_t CountFiles(const fs::path& root) {
  std::size_t n = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) n += entry.is_regular_file();
  return n;
}

struct RunResult {
  double seconds = 0;
  std::size_t rows = 0;
};

RunResult WholeRun(const fs::path& tree, const std::u16string& oldDrive = u"\\\\srv1") {
  auto server = CreateBuiltinDocumentServer();
  auto files = CreateLocalFileSystem();
  auto guard = CreateLocalWalkGuard();
  CountingResults results;
  RunContext ctx{oldDrive, u"\\\\srv2", *server, *files, results, *guard};
  const auto start = Clock::now();
  ProcessFolder(ctx, NativePathToText(tree.string()));
  return {std::chrono::duration<double>(Clock::now() - start).count(), results.rows};
}

std::map<std::string, unsigned long long> ReadStats(const fs::path& mount) {
  std::ifstream in(mount / ".latencyfs-stats");
  std::map<std::string, unsigned long long> stats;
  std::string name;
  unsigned long long n = 0;
  while (in >> name >> n) stats[name] = n;
  return stats;
}

// A latencyfs mount of source, removed again at the end of the scope.
class LatencyMount {
 public:
  LatencyMount(const fs::path& source, const fs::path& mount, unsigned delayUs,
               const std::string& cacheSeconds)
      : mount_(mount) {
    fs::create_directories(mount);
    if (Run({QUAVELLE_LATENCYFS, source.string(), mount.string(), "-o",
             "delay_us=" + std::to_string(delayUs) + ",walker_pid=" + std::to_string(::gettid()) +
                 ",entry_timeout=" + cacheSeconds + ",attr_timeout=" + cacheSeconds +
                 ",negative_timeout=" + cacheSeconds}) != 0) {
      throw std::runtime_error("cannot mount latencyfs on " + mount.string());
    }
  }
  ~LatencyMount() { Run({"fusermount3", "-u", mount_.string()}); }
  LatencyMount(const LatencyMount&) = delete;
  LatencyMount& operator=(const LatencyMount&) = delete;

 private:
  fs::path mount_;
};

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--work")
      options.work = argv[i + 1];
    else if (flag == "--folders")
      options.folders = std::atoi(argv[i + 1]);
    else if (flag == "--files")
      options.files = std::atoi(argv[i + 1]);
    else if (flag == "--cache-s")
      options.cacheSeconds = argv[i + 1];
    else if (flag == "--delays-us") {
      options.delaysUs.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');)
        options.delaysUs.push_back(std::stoul(item));
    } else {
      throw std::runtime_error("unknown option " + flag);
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  fs::remove_all(options.work);
  const fs::path original = options.work / "original";
  MakeTree(original / "Tree", options);
  const std::size_t files = CountFiles(original);
  std::printf("tree: %zu files in %d folders\n", files, options.folders);

  // First a run that matches nothing (the walk and the reading of every
  // package), then the run that re-points.
  const std::u16string nothing = u"\\\\nomatch";
  // The best of three, each on a fresh copy: the local run is short.
  RunResult readBaseline{1e9, 0}, baseline{1e9, 0};
  for (int trial = 0; trial < 3; ++trial) {
    const fs::path local = options.work / ("local-" + std::to_string(trial));
    fs::copy(original, local, fs::copy_options::recursive);
    const RunResult read = WholeRun(local / "Tree", nothing);
    const RunResult run = WholeRun(local / "Tree");
    if (read.seconds < readBaseline.seconds) readBaseline = read;
    if (run.seconds < baseline.seconds) baseline = run;
  }
  std::printf("local disk: walk and read %.3f s, run %.3f s, %zu links re-pointed (baseline)\n",
              readBaseline.seconds, baseline.seconds, baseline.rows);

  for (unsigned delay : options.delaysUs) {
    const fs::path source = options.work / ("source-" + std::to_string(delay));
    fs::copy(original, source, fs::copy_options::recursive);
    const fs::path mount = options.work / ("mount-" + std::to_string(delay));
    LatencyMount mounted(source, mount, delay, options.cacheSeconds);
    const RunResult read = WholeRun(mount / "Tree", nothing);
    const auto readStats = ReadStats(mount);
    const RunResult run = WholeRun(mount / "Tree");
    auto stats = ReadStats(mount);
    for (auto& [name, n] : stats) n -= readStats.count(name) ? readStats.at(name) : 0;
    const unsigned long long readTotal = readStats.count("total") ? readStats.at("total") : 0;
    const unsigned long long total = stats.count("total") ? stats.at("total") : 0;
    std::printf(
        "latencyfs %.1f ms: walk and read %.3f s (ratio %.2f), %.2f requests/file; "
        "run %.3f s (ratio %.2f), %llu requests, %.2f requests/file, "
        "%.2f more per re-pointed document\n",
        delay / 1000.0, read.seconds, read.seconds / readBaseline.seconds,
        static_cast<double>(readTotal) / static_cast<double>(files), run.seconds,
        run.seconds / baseline.seconds, total,
        static_cast<double>(total) / static_cast<double>(files),
        static_cast<double>(total - readTotal) / static_cast<double>(run.rows ? run.rows : 1));
    // The requests the walking thread waits for, one after another: the
    // rows, the stop at the first failure and each document committed before
    // the next is listed keep them in walk order. They set a floor.
    const auto count = [](const std::map<std::string, unsigned long long>& s, const char* name) {
      return s.count(name) ? s.at(name) : 0ull;
    };
    const unsigned long long walkerRead = count(readStats, "walker");
    const unsigned long long walkerRun = count(stats, "walker");
    const double floor = static_cast<double>(walkerRun) * delay / 1e6;
    std::printf(
        "  waited for by the walking thread: walk and read %.2f requests/file; run %.2f "
        "requests/file, %.2f more per re-pointed document: at least %.3f s (ratio %.2f) at this "
        "delay\n",
        static_cast<double>(walkerRead) / static_cast<double>(files),
        static_cast<double>(walkerRun) / static_cast<double>(files),
        static_cast<double>(walkerRun - std::min(walkerRun, walkerRead)) /
            static_cast<double>(run.rows ? run.rows : 1),
        floor, floor / baseline.seconds);
    if (delay == 2000) {
      std::printf("  goal at 2 ms: run <= 4.0x local: %s\n",
                  run.seconds <= 4 * baseline.seconds ? "met" : "not met");
    }
    using Stats = std::map<std::string, unsigned long long>;
    for (const Stats* counts : {&readStats, static_cast<const Stats*>(&stats)}) {
      std::string detail;
      for (const auto& [name, n] : *counts) {
        if (name != "total" && name != "walker" && n > 0)
          detail += " " + name + "=" + std::to_string(n);
      }
      std::printf("  %s:%s\n", counts == &readStats ? "walk and read" : "run", detail.c_str());
    }
    if (run.rows != baseline.rows) {
      std::fprintf(stderr, "the run re-pointed %zu links, on local disk %zu\n", run.rows,
                   baseline.rows);
      return 1;
    }
  }
  fs::remove_all(options.work);
  return 0;
}

}  // namespace
}  // namespace quavelle::bench

int main(int argc, char** argv) {
  try {
    return quavelle::bench::Main(argc, argv);
  } catch (const quavelle::ServiceError& e) {
    std::fprintf(stderr, "%d %s\n", e.number(), quavelle::ToUtf8(e.description()).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 1;
}
