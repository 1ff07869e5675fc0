// Speed and memory of the built-in document server, each against a baseline
// measured in the same run: walking many packages against cat of the same
// files, one re-pointing of a large package against cp (and cp with sync),
// and the peak memory of a process that does only that re-pointing.
//
//   docserver_bench [--work DIR] [--files N] [--image-mb M] [--trials T]
//                   [--flush-free-work DIR]  (also SetPath on a file system
//                                             that flushes for free, e.g. tmpfs)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/docserver/BenchPackages.h"
#include "bench/support/BenchTools.h"
#include "core/LinkRetargeting.h"
#include "core/ResultsList.h"
#include "core/RunContext.h"
#include "services/DocumentServer.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/PackageFormat.h"
#include "services/docserver/ProcessTuning.h"
#include "services/docserver/ZipArchive.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

extern char** environ;

namespace quavelle::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kWalkGoal = 1.0;
constexpr double kSetPathGoal = 1.3;
constexpr double kPeakGoalMb = 64.0;
constexpr char kBigLink[] = "file:///C:/Data/budget%202024.xlsx";

struct Options {
  fs::path work = "dsbench-data";
  int files = 2000;
  int imageMb = 100;
  int trials = 3;
  fs::path flushFree;  // also measure SetPath here, e.g. on tmpfs
};

// Peak resident set of a command, in KiB. Measured by a fresh copy of this
// program that starts it, because a child's peak includes what its parent had
// resident when it forked.
long PeakKb(const fs::path& work, const std::vector<std::string>& command) {
  const fs::path report = work / "peak.txt";
  std::vector<std::string> args = {fs::read_symlink("/proc/self/exe").string(), "--peak-of",
                                   report.string()};
  args.insert(args.end(), command.begin(), command.end());
  Spawn(args);
  long kb = 0;
  std::ifstream(report) >> kb;
  fs::remove(report);
  if (kb <= 0) throw std::runtime_error("no peak memory reported for " + command[0]);
  return kb;
}

int PeakOf(const std::string& report, const std::vector<std::string>& command) {
  const ChildRun result = Spawn(command);
  std::ofstream(report) << result.peakKb << "\n";
  return 0;
}

void Report(const std::string& what, double measured, const std::string& baselineName,
            double baseline, double goal) {
  std::printf("%s: %.1f ms, %s %.1f ms, goal <= %.1fx: ratio %.2fx\n", what.c_str(), measured * 1e3,
              baselineName.c_str(), baseline * 1e3, goal, measured / baseline);
}

// --- the packages

std::vector<fs::path> MakeTree(const Options& options) {
  const fs::path tree = options.work / "tree";
  const fs::path marker = tree / (".complete-" + std::to_string(options.files));
  std::vector<fs::path> files;
  const int perFolder = 100;
  for (int i = 0; i < options.files; ++i) {
    const bool openDocument = i % 2 == 1;
    files.push_back(tree / ("folder" + std::to_string(i / perFolder)) /
                    ("report" + std::to_string(i) + (openDocument ? ".odt" : ".docx")));
  }
  if (fs::exists(marker)) return files;

  std::printf("writing %d packages under %s ...\n", options.files, tree.c_str());
  fs::remove_all(tree);
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::size_t> size(20 * 1024, 100 * 1024);
  for (int i = 0; i < options.files; ++i) {
    const bool openDocument = i % 2 == 1;
    const std::string n = std::to_string(i);
    // Links elsewhere, none on the drive the walk looks for.
    std::vector<std::string> links =
        openDocument ? std::vector<std::string>{"file:///E:/Archive/Report%20" + n + ".xlsx",
                                                "file://archive/share/notes" + n + ".odt",
                                                "../Shared/ref" + n + ".odt"}
                     : std::vector<std::string>{"file:///E:\\Archive\\Report%20" + n + ".xlsx",
                                                "file:///\\\\archive\\share\\notes" + n + ".docx",
                                                "../Shared/ref" + n + ".docx"};
    fs::create_directories(files[static_cast<std::size_t>(i)].parent_path());
    WritePackage(files[static_cast<std::size_t>(i)],
                 WordProcessingPackage(openDocument, size(random), links, random));
  }
  std::ofstream(marker) << "done\n";
  return files;
}

fs::path MakeBigPackage(const Options& options) {
  const fs::path big = options.work / "images.docx";
  const std::size_t imageBytes = 2u << 20;
  const std::size_t count = static_cast<std::size_t>(options.imageMb) / 2;
  if (fs::exists(big) && fs::file_size(big) > count * imageBytes) return big;
  std::printf("writing %zu MiB package %s ...\n", count * 2, big.c_str());
  std::mt19937_64 random(7);
  WritePackage(big, ImagePackage(count, imageBytes, kBigLink, random));
  return big;
}

std::uintmax_t TotalBytes(const std::vector<fs::path>& files) {
  std::uintmax_t total = 0;
  for (const fs::path& f : files) total += fs::file_size(f);
  return total;
}

// --- what is measured

std::size_t ListAll(DocumentServer& server, const std::vector<fs::path>& files) {
  std::size_t links = 0;
  for (const fs::path& file : files) {
    auto document = server.Open(NativePathToText(file.string()));
    auto linked = document->LinkedDocuments();
    if (!linked) continue;
    auto items = linked->NewEnum();
    for (auto link = items->Next(); link; link = items->Next()) {
      if (!link->AbsolutePath().empty()) ++links;
    }
  }
  return links;
}

std::size_t InflateLinkParts(const std::vector<fs::path>& files) {
  std::size_t bytes = 0;
  for (const fs::path& file : files) {
    const std::u16string path = NativePathToText(file.string());
    auto format = docserver::PackageFormatForFileName(path);
    const docserver::DocumentFile package = docserver::DocumentFile::Open(path);
    const docserver::ZipArchive zip(package, path);
    for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
      if (format->IsLinkPart(zip.EntryName(i))) bytes += zip.ReadEntry(i, 256 << 20).size();
    }
  }
  return bytes;
}

class CountedResults : public ResultsList {
 public:
  void Clear() override { rows = 0; }
  void AppendRow(const std::u16string&, const std::u16string&, const std::u16string&) override {
    ++rows;
  }
  std::size_t rows = 0;
};

std::size_t WalkFolder(DocumentServer& server, const fs::path& tree) {
  auto fileSystem = CreateLocalFileSystem();
  auto visited = CreateLocalWalkGuard();
  CountedResults results;
  RunContext ctx{u"Q:", u"R:", server, *fileSystem, results, *visited};
  ProcessFolder(ctx, NativePathToText(tree.string()));
  return results.rows;
}

// Re-points the first link of the package to newPath.
void SetFirstLink(DocumentServer& server, const fs::path& package, const std::u16string& newPath) {
  auto linked = server.Open(NativePathToText(package.string()))->LinkedDocuments();
  if (!linked) throw std::runtime_error("no links in " + package.string());
  auto items = linked->NewEnum();
  auto link = items->Next();
  if (!link) throw std::runtime_error("no links in " + package.string());
  link->SetPath(newPath);
  while (items->Next()) {
  }  // the end of the links writes the document
}

std::u16string FirstLink(DocumentServer& server, const fs::path& package) {
  auto linked = server.Open(NativePathToText(package.string()))->LinkedDocuments();
  auto link = linked ? linked->NewEnum()->Next() : nullptr;
  if (!link) throw std::runtime_error("no links in " + package.string());
  return link->AbsolutePath();
}

struct SetPathTimes {
  double setPath = 0;
  double cp = 0;
  double cpSync = 0;
  double cpOverSync = 0;
};

// SetPath on package, alternating between two targets, against copies of it
// made beside it in the same run.
SetPathTimes MeasureSetPath(DocumentServer& server, const fs::path& package,
                            const std::array<std::u16string, 2>& targets, const Options& options) {
  const fs::path copy = package.parent_path() / "copy.docx";
  Spawn({"sh", "-c", "cat \"$0\" >/dev/null", package.string()});
  SetPathTimes t;
  std::size_t next = FirstLink(server, package) == targets[0] ? 1 : 0;
  t.setPath = Best(options.trials, [&] {
    const std::u16string& target = targets[next];
    next = 1 - next;
    return Seconds([&] { SetFirstLink(server, package, target); });
  });
  t.cp = Best(options.trials, [&] {
    fs::remove(copy);
    return Seconds([&] { Spawn({"cp", package.string(), copy.string()}); });
  });
  t.cpSync = Best(options.trials, [&] {
    fs::remove(copy);
    return Seconds([&] {
      Spawn({"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", package.string(), copy.string()});
    });
  });
  // Replacing a file also frees the blocks of the one replaced, which a copy
  // to a new name does not pay; shown beside the goal, not instead of it.
  t.cpOverSync = Best(options.trials, [&] {
    Spawn({"cp", package.string(), copy.string()});
    return Seconds([&] {
      Spawn({"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", package.string(), copy.string()});
    });
  });
  fs::remove(copy);
  return t;
}

void ReportSetPath(const std::string& what, const SetPathTimes& t) {
  Report(what, t.setPath, "cp", t.cp, kSetPathGoal);
  Report(what, t.setPath, "cp + sync", t.cpSync, kSetPathGoal);
  std::printf("%s: %.1f ms, cp over an existing copy + sync %.1f ms: ratio %.2fx\n", what.c_str(),
              t.setPath * 1e3, t.cpOverSync * 1e3, t.setPath / t.cpOverSync);
}

int Main(const std::vector<std::string>& args) {
  // Child modes, measured from outside for their peak memory.
  if (args.size() >= 3 && args[0] == "--peak-of")
    return PeakOf(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  if (args.size() == 3 && args[0] == "--set-path-only") {
    auto server = CreateBuiltinDocumentServer();
    SetFirstLink(*server, args[1], FromUtf8(args[2]));
    return 0;
  }
  // For a profiler: lists the links of every package named on the command line, rounds times.
  if (args.size() >= 3 && args[0] == "--list-only") {
    auto server = CreateBuiltinDocumentServer();
    const std::vector<fs::path> files(args.begin() + 2, args.end());
    for (int round = std::stoi(args[1]); round > 0; --round) ListAll(*server, files);
    return 0;
  }
  if (args.size() == 2 && args[0] == "--open-only") {
    auto server = CreateBuiltinDocumentServer();
    return FirstLink(*server, args[1]).empty() ? 1 : 0;
  }

  Options options;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--work")
      options.work = args[i + 1];
    else if (args[i] == "--files")
      options.files = std::stoi(args[i + 1]);
    else if (args[i] == "--image-mb")
      options.imageMb = std::stoi(args[i + 1]);
    else if (args[i] == "--trials")
      options.trials = std::stoi(args[i + 1]);
    else if (args[i] == "--flush-free-work")
      options.flushFree = args[i + 1];
    else
      throw std::runtime_error("unknown option " + args[i]);
  }
  fs::create_directories(options.work);
  const std::vector<fs::path> files = MakeTree(options);
  const fs::path tree = options.work / "tree";
  const fs::path big = MakeBigPackage(options);
  auto server = CreateBuiltinDocumentServer();

  // Walk: every file read once first so that both sides start from the page cache.
  const std::vector<std::string> cat = {"sh", "-c", "find \"$0\" -type f -exec cat {} + >/dev/null",
                                        tree.string()};
  Spawn(cat);
  const std::size_t expectedLinks = 3 * files.size();
  std::size_t listed = 0;
  const double catWalk = Best(options.trials, [&] { return Seconds([&] { Spawn(cat); }); });
  const double serverWalk =
      Best(options.trials, [&] { return Seconds([&] { listed = ListAll(*server, files); }); });
  std::size_t rows = 1;
  const double folderWalk =
      Best(options.trials, [&] { return Seconds([&] { rows = WalkFolder(*server, tree); }); });
  if (listed != expectedLinks || rows != 0)
    throw std::runtime_error("walk listed " + std::to_string(listed) + " links and " +
                             std::to_string(rows) + " rows, expected " +
                             std::to_string(expectedLinks) + " and 0");
  const std::string walked = std::to_string(files.size()) + " packages (" +
                             std::to_string(TotalBytes(files) >> 20) + " MiB)";
  Report("walk of " + walked + ", Open+LinkedDocuments+AbsolutePath", serverWalk, "cat", catWalk,
         kWalkGoal);
  Report("walk of " + walked + ", ProcessFolder on the local file system", folderWalk, "cat",
         catWalk, kWalkGoal);
  // Each format on its own: the two keep their links in very different places.
  for (const std::string extension : {".docx", ".odt"}) {
    std::vector<fs::path> subset;
    for (const fs::path& f : files)
      if (f.extension() == extension) subset.push_back(f);
    const std::vector<std::string> catSubset = {
        "sh", "-c", "find \"$0\" -type f -name \"*$1\" -exec cat {} + >/dev/null", tree.string(),
        extension};
    const double catPart = Best(options.trials, [&] { return Seconds([&] { Spawn(catSubset); }); });
    const double serverPart =
        Best(options.trials, [&] { return Seconds([&] { ListAll(*server, subset); }); });
    Report("walk of the " + std::to_string(subset.size()) + " " + extension +
               " packages, Open+LinkedDocuments+AbsolutePath",
           serverPart, "cat", catPart, kWalkGoal);
    // What no listing can skip: the parts that may hold links, read and
    // inflated, not parsed.
    const double inflateOnly =
        Best(options.trials, [&] { return Seconds([&] { InflateLinkParts(subset); }); });
    std::printf(
        "  of which reading and inflating the parts that may hold links: %.1f ms, %.2fx cat\n",
        inflateOnly * 1e3, inflateOnly / catPart);
  }

  // One re-pointing of a large package, back and forth between two drives.
  const std::u16string original = FirstLink(*server, big);
  std::u16string moved = original;
  moved[0] = original[0] == u'D' ? u'E' : u'D';  // never the drive it is on now
  const std::string size = std::to_string(fs::file_size(big) >> 20) + " MiB package";
  ReportSetPath("SetPath on a " + size, MeasureSetPath(*server, big, {original, moved}, options));
  if (!options.flushFree.empty()) {
    // Where a flush costs nothing (tmpfs): the copy alone against cp's.
    const fs::path there = options.flushFree / "images.docx";
    fs::create_directories(options.flushFree);
    fs::copy_file(big, there, fs::copy_options::overwrite_existing);
    ReportSetPath("SetPath on a " + size + " in " + options.flushFree.string(),
                  MeasureSetPath(*server, there, {original, moved}, options));
    fs::remove(there);
  }

  // Peak memory of a process that does only that re-pointing.
  const fs::path copy = options.work / "copy.docx";
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::u16string current = FirstLink(*server, big);
  const long setPathKb = PeakKb(options.work, {self, "--set-path-only", big.string(),
                                               ToUtf8(current == original ? moved : original)});
  const long openKb = PeakKb(options.work, {self, "--open-only", big.string()});
  const long cpKb = PeakKb(options.work, {"cp", big.string(), copy.string()});
  fs::remove(copy);
  const double peakMb = static_cast<double>(setPathKb) / 1024.0;
  std::printf(
      "peak memory of SetPath on a %s: %.1f MiB (a process that only lists its links %.1f MiB, "
      "cp %.1f MiB), goal < %.0f MiB: ratio %.2fx\n",
      size.c_str(), peakMb, static_cast<double>(openKb) / 1024.0,
      static_cast<double>(cpKb) / 1024.0, kPeakGoalMb, peakMb / kPeakGoalMb);
  return 0;
}

}  // namespace
}  // namespace quavelle::bench

int main(int argc, char** argv) {
  quavelle::docserver::TuneProcessForPackages();  // as the program does at start
  try {
    return quavelle::bench::Main(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const quavelle::ServiceError& error) {
    std::fprintf(stderr, "docserver_bench: service error %d: %s\n", error.number(),
                 quavelle::ToUtf8(error.description()).c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "docserver_bench: %s\n", error.what());
  }
  return 1;
}
