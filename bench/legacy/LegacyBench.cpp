// Opens and lists the links of many binary office files (none matching the
// path looked for), against cat of the same files. The office suite writes
// a few base files of different sizes once; the set is made of hard links to
// them (--copies makes real copies), so both sides read the same cached bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/BenchTools.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/LegacyContent.h"
#include "services/docserver/ProcessTuning.h"

namespace quavelle::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  fs::path work = "legacy-bench-data";
  int files = 2000;
  int trials = 3;
  bool copies = false;
  bool keep = false;  // leave the files for a profiler
};

void Run(const std::vector<std::string>& args) { Spawn(args); }

std::string Rows(const char* sheet, int rows) {
  std::string out = std::string("<table:table table:name=\"") + sheet + "\">";
  for (int i = 0; i < rows; ++i) {
    const std::string v = std::to_string(i * 13 % 100003);
    out += "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"" + v +
           "\"/><table:table-cell office:value-type=\"string\"><text:p>item " + v +
           " of the regional budget</text:p></table:table-cell></table:table-row>";
  }
  return out + "</table:table>";
}

std::string Paragraphs(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += "<text:p>Paragraph " + std::to_string(i) +
           ": the quarterly review lists each department's travel costs, staff numbers and the "
           "revised figures from the finance meeting, with actions for the owners below.</text:p>";
  }
  return out;
}

const char kNs[] =
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.3\"";

// Base files from about 0.1 to 5 MB, each with file links that the walk's
// path does not match.
std::vector<fs::path> BaseFiles(const fs::path& dir) {
  const fs::path src = dir / "src";
  fs::create_directories(src);
  const std::string link =
      "<text:a xlink:type=\"simple\" xlink:href=\"file://srv1/proj/report.doc\">report</text:a>";
  auto sheet = [&](const std::string& name, int rows) {
    std::ofstream(src / (name + ".fods"))
        << "<?xml version=\"1.0\"?><office:document " << kNs
        << " office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body>"
           "<office:spreadsheet><table:table table:name=\"Links\"><table:table-row>"
           "<table:table-cell office:value-type=\"string\"><text:p>"
        << link << "</text:p></table:table-cell></table:table-row></table:table>"
        << Rows("Data", rows) << "</office:spreadsheet></office:body></office:document>";
  };
  auto text = [&](const std::string& name, int paragraphs) {
    std::ofstream(src / (name + ".fodt"))
        << "<?xml version=\"1.0\"?><office:document " << kNs
        << " office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body>"
           "<office:text><text:p>"
        << link << "</text:p>" << Paragraphs(paragraphs)
        << "</office:text></office:body></office:document>";
  };
  sheet("sheet-s", 1500);
  sheet("sheet-m", 20000);
  sheet("sheet-l", 80000);
  text("text-s", 300);
  text("text-m", 6000);
  text("text-l", 12000);
  std::vector<std::string> convert = {
      "soffice", "--headless", "--norestore", "--nolockcheck",
      "-env:UserInstallation=file://" + fs::absolute(dir / "profile").string()};
  for (const char* name : {"sheet-s", "sheet-m", "sheet-l"}) {
    auto args = convert;
    args.insert(args.end(),
                {"--convert-to", "xls", "--outdir", dir.string(), (src / name).string() + ".fods"});
    Run(args);
  }
  for (const char* name : {"text-s", "text-m", "text-l"}) {
    auto args = convert;
    args.insert(args.end(),
                {"--convert-to", "doc", "--outdir", dir.string(), (src / name).string() + ".fodt"});
    Run(args);
  }
  std::vector<fs::path> out;
  for (const char* name :
       {"sheet-s.xls", "sheet-m.xls", "sheet-l.xls", "text-s.doc", "text-m.doc", "text-l.doc"})
    out.push_back(dir / name);
  return out;
}

std::size_t Walk(const std::vector<fs::path>& files) {
  const std::u16string wanted = u"\\\\nomatch\\share\\";
  std::size_t links = 0, matches = 0;
  for (const fs::path& path : files) {
    const std::u16string name = NativePathToText(path.string());
    auto file = docserver::DocumentFile::Open(name);
    auto content =
        docserver::LegacyContentForExtension(NativePathToText(path.extension().string()), name);
    content->Load(file);
    const std::size_t n = content->ListLinks();
    links += n;
    for (std::size_t i = 0; i < n; ++i) matches += content->AbsolutePath(i).rfind(wanted, 0) == 0;
  }
  if (matches != 0) throw std::runtime_error("a link matched");
  return links;
}

void Cat(const std::vector<fs::path>& files) {
  constexpr std::size_t kBatch = 500;
  for (std::size_t i = 0; i < files.size(); i += kBatch) {
    std::vector<std::string> args = {"sh", "-c", "exec cat \"$@\" >/dev/null", "cat"};
    for (std::size_t k = i; k < std::min(files.size(), i + kBatch); ++k)
      args.push_back(files[k].string());
    Run(args);
  }
}

int Main(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--work" && i + 1 < args.size())
      o.work = args[++i];
    else if (args[i] == "--files" && i + 1 < args.size())
      o.files = std::stoi(args[++i]);
    else if (args[i] == "--trials" && i + 1 < args.size())
      o.trials = std::stoi(args[++i]);
    else if (args[i] == "--keep")
      o.keep = true;
    else if (args[i] == "--copies")
      o.copies = true;
    else
      throw std::runtime_error(
          "usage: legacy_bench [--work DIR] [--files N] [--trials N] [--copies] [--keep]");
  }
  fs::remove_all(o.work);
  fs::create_directories(o.work / "set");
  const std::vector<fs::path> bases = BaseFiles(o.work);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, bases.size() - 1);
  std::vector<fs::path> files;
  std::uintmax_t bytes = 0;
  for (int i = 0; i < o.files; ++i) {
    const fs::path& base = bases[pick(random)];
    const fs::path path = o.work / "set" / (std::to_string(i) + base.extension().string());
    if (o.copies)
      fs::copy_file(base, path);
    else
      fs::create_hard_link(base, path);
    bytes += fs::file_size(path);
    files.push_back(path);
  }
  std::printf("%d files, %.1f MiB; base sizes:", o.files, static_cast<double>(bytes) / (1 << 20));
  for (const fs::path& b : bases) std::printf(" %.2f", static_cast<double>(fs::file_size(b)) / 1e6);
  std::printf(" MB\n");
  std::size_t links = 0;
  double walk = 1e9, cat = 1e9;
  for (int t = 0; t < o.trials; ++t) {
    cat = std::min(cat, Seconds([&] { Cat(files); }));
    walk = std::min(walk, Seconds([&] { links = Walk(files); }));
  }
  std::printf("listing %zu links: %.1f ms, cat %.1f ms, goal <= 1.0x: ratio %.2fx\n", links,
              walk * 1e3, cat * 1e3, walk / cat);
  if (!o.keep) fs::remove_all(o.work);
  return 0;
}

}  // namespace
}  // namespace quavelle::bench

int main(int argc, char** argv) {
  quavelle::docserver::TuneProcessForPackages();  // as the program does at start
  try {
    return quavelle::bench::Main(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const quavelle::ServiceError& e) {
    std::fprintf(stderr, "legacy_bench: %s\n", quavelle::ToUtf8(e.description()).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "legacy_bench: %s\n", e.what());
  }
  return 1;
}
