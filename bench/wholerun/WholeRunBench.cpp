// A whole run (ProcessFolder with the real services, flushes included) over a
// seeded tree, against a baseline measured in the same run: cat of every file
// of the tree, plus a copy of each document the run changes, written and
// flushed on its own. Also the run's peak memory and its rewrites per
// changed document.
//
//   wholerun_bench [--work DIR] [--packages N] [--others M] [--trials T]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/BenchTools.h"
#include "bench/wholerun/TreeGenerator.h"
#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

extern char** environ;

namespace quavelle::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kGoal = 1.5;
constexpr double kPeakGoalMb = 64.0;

struct Options {
  fs::path work = "wholerun-data";
  TreeShape shape;
  int trials = 3;
};

struct Containers : ResultsList {
  std::size_t rows = 0;
  std::set<std::u16string> changed;
  void Clear() override {}
  void AppendRow(const std::u16string&, const std::u16string&,
                 const std::u16string& container) override {
    ++rows;
    changed.insert(container);
  }
};

// The run itself, in a process of its own so that its peak memory is its own.
int RunOnce(const fs::path& tree, const std::string& oldDrive, const std::string& newDrive,
            const fs::path& report) {
  PrepareProcessForServices();
  std::size_t rewrites = 0;
  docserver::ServerOptions options;
  options.faultHook = [&](docserver::ReplaceStep step) {
    rewrites += step == docserver::ReplaceStep::Rename;
    return 0;
  };
  auto server = CreateBuiltinDocumentServer(options);
  auto files = CreateLocalFileSystem();
  auto visited = CreateLocalWalkGuard();
  Containers results;
  RunContext ctx{FromUtf8(oldDrive), FromUtf8(newDrive), *server, *files, results, *visited};
  try {
    ProcessFolder(ctx, NativePathToText(tree.string()));
  } catch (const ServiceError& failure) {
    std::fprintf(stderr, "run failed: %d %s\n", failure.number(),
                 ToUtf8(failure.description()).c_str());
    return 1;
  }
  std::ofstream out(report);
  out << results.rows << " " << rewrites << "\n";
  for (const std::u16string& container : results.changed)
    out << TextToNativePath(container) << "\n";
  return 0;
}

// A flushed copy of each document, as a careful copy tool makes it.
double CopyAndFlush(const std::vector<fs::path>& documents, const fs::path& scratch) {
  fs::create_directories(scratch);
  const auto start = Clock::now();
  std::vector<char> buffer(1 << 20);
  std::size_t n = 0;
  for (const fs::path& document : documents) {
    const fs::path copy = scratch / ("copy" + std::to_string(n++));
    const int in = ::open(document.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) throw std::runtime_error("cannot copy " + document.string());
    for (ssize_t got; (got = ::read(in, buffer.data(), buffer.size())) > 0;) {
      if (::write(out, buffer.data(), static_cast<std::size_t>(got)) != got)
        throw std::runtime_error("cannot write " + copy.string());
    }
    if (::fsync(out) != 0) throw std::runtime_error("cannot flush " + copy.string());
    ::close(in);
    ::close(out);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  fs::remove_all(scratch);
  return seconds;
}

int Main(const Options& options) {
  const fs::path tree = fs::absolute(options.work) / "tree";
  MakeTree(tree, options.shape);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const fs::path report = fs::absolute(options.work) / "run-report.txt";

  // Links left on \\srv2 by an earlier, interrupted benchmark go back first;
  // this also brings the tree into the page cache, as for cat.
  Spawn({self, "--run-once", tree.string(), "\\\\srv2", "\\\\srv1", report.string()});
  std::vector<double> runs, baselines, listings, cats, copyTimes;
  long peakKb = 0;
  double rewritesPerDocument = 0;
  std::size_t changedCount = 0, rows = 0;
  for (int trial = 0; trial < options.trials; ++trial) {
    // Each trial moves the same links back, so every trial has the same work.
    const bool forth = trial % 2 == 0;
    const ChildRun run = Spawn({self, "--run-once", tree.string(), forth ? "\\\\srv1" : "\\\\srv2",
                                forth ? "\\\\srv2" : "\\\\srv1", report.string()});
    std::ifstream in(report);
    std::size_t rewrites = 0;
    in >> rows >> rewrites;
    std::vector<fs::path> changed;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) changed.emplace_back(line);
    changedCount = changed.size();
    rewritesPerDocument = changed.empty() ? 0 : double(rewrites) / double(changed.size());
    peakKb = std::max(peakKb, run.peakKb);

    // The same walk with nothing to re-point: what reading and listing cost.
    const ChildRun listing = Spawn({self, "--run-once", tree.string(), "\\\\nowhere", "\\\\x",
                                    (fs::absolute(options.work) / "list-report.txt").string()});
    const ChildRun cat = Spawn(
        {"sh", "-c", "find \"$0\" -type f -print0 | xargs -0 cat > /dev/null", tree.string()});
    const double copies = CopyAndFlush(changed, fs::absolute(options.work) / "copies");
    runs.push_back(run.seconds);
    baselines.push_back(cat.seconds + copies);
    listings.push_back(listing.seconds);
    cats.push_back(cat.seconds);
    copyTimes.push_back(copies);
    std::printf("trial %d: run %.2f s; cat %.2f s + %zu flushed copies %.2f s\n", trial + 1,
                run.seconds, cat.seconds, changed.size(), copies);
  }
  const double run = Median(runs), baseline = Median(baselines);
  std::printf("tree: %d packages, %d other files; %zu rows in %zu changed documents\n",
              options.shape.packages, options.shape.otherFiles, rows, changedCount);
  std::printf("rewrites per changed document: %.2f (must be 1.0)\n", rewritesPerDocument);
  std::printf("peak memory of the run: %.1f MiB, goal < %.0f MiB\n", peakKb / 1024.0, kPeakGoalMb);
  // Where the run spends what the baseline does not.
  const double listing = Median(listings), cat = Median(cats), copies = Median(copyTimes);
  std::printf("walk and list with nothing to re-point: %.2f s against cat %.2f s: ratio %.2fx\n",
              listing, cat, listing / cat);
  std::printf(
      "re-pointing %zu documents (the run less that walk): %.2f s against their flushed "
      "copies %.2f s: ratio %.2fx\n",
      changedCount, run - listing, copies, (run - listing) / copies);
  std::printf(
      "whole run: %.2f s, baseline (cat + flushed copies) %.2f s, goal <= %.1fx: ratio %.2fx\n",
      run, baseline, kGoal, run / baseline);
  return 0;
}

}  // namespace
}  // namespace quavelle::bench

int main(int argc, char** argv) {
  using namespace quavelle::bench;
  try {
    if (argc == 6 && std::strcmp(argv[1], "--run-once") == 0) {
      return RunOnce(argv[2], argv[3], argv[4], argv[5]);
    }
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
      const std::string flag = argv[i];
      if (flag == "--work")
        options.work = argv[i + 1];
      else if (flag == "--packages")
        options.shape.packages = std::stoi(argv[i + 1]);
      else if (flag == "--others")
        options.shape.otherFiles = std::stoi(argv[i + 1]);
      else if (flag == "--trials")
        options.trials = std::stoi(argv[i + 1]);
      else
        throw std::invalid_argument("unknown option " + flag);
    }
    return Main(options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "wholerun_bench: %s\n", failure.what());
    return 1;
  }
}
