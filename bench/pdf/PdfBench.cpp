// Listing the file links of many PDFs of 1-5 MB, none of which links where a
// move would look, against cat of the same files, measured in the same run.
// Also shows how many bytes the listing reads: the cross-reference data and
// the objects on the way to links, never the page contents or images.
//
//   pdf_bench [--work DIR] [--files N] [--trials T]
//   pdf_bench --list-only ROUNDS FILE...   (for a profiler)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
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
#include "services/docserver/PdfContent.h"

extern char** environ;

namespace quavelle::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kWalkGoal = 0.5;
constexpr int kLinksPerPage = 3;

struct Options {
  fs::path work = "/tmp/quavelle-pdf-bench";
  int files = 2000;
  int trials = 3;
};

// Bytes this process has read through system calls so far.
std::uint64_t BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// --- the PDFs

class PdfWriter {
 public:
  int Add(const std::string& object) {
    offsets_.push_back(out_.size());
    out_ += std::to_string(offsets_.size()) + " 0 obj\n" + object + "\nendobj\n";
    return static_cast<int>(offsets_.size());
  }
  int AddStream(const std::string& dict, const char* data, std::size_t size) {
    offsets_.push_back(out_.size());
    out_ += std::to_string(offsets_.size()) + " 0 obj\n<< " + dict + " /Length " +
            std::to_string(size) + " >>\nstream\n";
    out_.append(data, size);
    out_ += "\nendstream\nendobj\n";
    return static_cast<int>(offsets_.size());
  }
  int Next() const { return static_cast<int>(offsets_.size()) + 1; }
  std::string Finish(int root) {
    const std::size_t xref = out_.size();
    out_ += "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f\r\n";
    for (std::size_t offset : offsets_) {
      char line[32];
      std::snprintf(line, sizeof line, "%010zu 00000 n\r\n", offset);
      out_ += line;
    }
    out_ += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " +
            std::to_string(root) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return std::move(out_);
  }

 private:
  std::string out_ = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets_;
};

// A PDF of about `bytes` bytes: pages with a text content stream and an image
// each, links to another drive and share, and an outline item.
std::string MakePdf(int n, std::size_t bytes, const std::string& noise, std::mt19937_64& random) {
  const int pages = 1 + static_cast<int>(random() % 4);
  const std::size_t perPage = bytes / static_cast<std::size_t>(pages);
  PdfWriter pdf;
  const int catalog = pdf.Add("<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>");
  const int tree = pdf.Next();
  std::string kids;
  for (int p = 0; p < pages; ++p)
    kids += std::to_string(tree + 3 + p * (5 + kLinksPerPage)) + " 0 R ";
  pdf.Add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  pdf.Add("<< /Type /Outlines /First 4 0 R /Last 4 0 R /Count 1 >>");
  pdf.Add("<< /Title (Notes) /Parent 3 0 R /A << /S /GoToR /F (//archive/share/notes" +
          std::to_string(n) + ".pdf) /D [0 /Fit] >> >>");
  std::string text;
  while (text.size() < perPage / 5) text += "BT /F1 11 Tf 72 700 Td (Quarterly figures) Tj ET\n";
  for (int p = 0; p < pages; ++p) {
    const std::size_t imageBytes = perPage - text.size();
    const std::size_t at = random() % (noise.size() - imageBytes);
    const int page = pdf.Next();
    const int image = page + 1, content = page + 2, font = page + 3, resources = page + 4;
    std::string annots;
    for (int l = 0; l < kLinksPerPage; ++l) annots += std::to_string(page + 5 + l) + " 0 R ";
    pdf.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " +
            std::to_string(resources) + " 0 R /Contents " + std::to_string(content) +
            " 0 R /Annots [" + annots + "] >>");
    const std::size_t side = static_cast<std::size_t>(std::sqrt(imageBytes / 3));
    pdf.AddStream("/Type /XObject /Subtype /Image /Width " + std::to_string(side) + " /Height " +
                      std::to_string(side) + " /ColorSpace /DeviceRGB /BitsPerComponent 8",
                  noise.data() + at, side * side * 3);
    pdf.AddStream("", text.data(), text.size());
    pdf.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    pdf.Add("<< /Font << /F1 " + std::to_string(font) + " 0 R >> /XObject << /Im1 " +
            std::to_string(image) + " 0 R >> >>");
    const std::string rect = " /Rect [72 700 200 720] /Border [0 0 0] ";
    pdf.Add("<< /Type /Annot /Subtype /Link" + rect +
            "/A << /S /URI /URI (file:///E:/Archive/Report%20" + std::to_string(n) +
            ".xlsx) >> >>");
    pdf.Add("<< /Type /Annot /Subtype /Link" + rect +
            "/A << /S /Launch /F << /Type /Filespec /F (../Shared/ref" + std::to_string(n) +
            ".docx) /UF (../Shared/ref" + std::to_string(n) + ".docx) >> >> >>");
    pdf.Add("<< /Type /Annot /Subtype /Link" + rect + "/A << /S /URI /URI (https://example.org/" +
            std::to_string(n) + ") >> >>");
  }
  return pdf.Finish(catalog);
}

// Every fourth file is rewritten by qpdf with object streams, so the walk also
// reads cross-reference streams and objects packed in streams.
std::vector<fs::path> MakeTree(const Options& options) {
  const fs::path tree = options.work / "tree";
  const fs::path marker = tree / (".complete-" + std::to_string(options.files));
  std::vector<fs::path> files;
  for (int i = 0; i < options.files; ++i) {
    files.push_back(tree / ("folder" + std::to_string(i / 100)) /
                    ("report" + std::to_string(i) + ".pdf"));
  }
  if (fs::exists(marker)) return files;

  std::printf("writing %d PDFs under %s ...\n", options.files, tree.c_str());
  fs::remove_all(tree);
  std::mt19937_64 random(42);
  std::string noise(6 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::uniform_int_distribution<std::size_t> size(1 << 20, 5 << 20);
  for (int i = 0; i < options.files; ++i) {
    const fs::path& file = files[static_cast<std::size_t>(i)];
    fs::create_directories(file.parent_path());
    const std::string bytes = MakePdf(i, size(random) - 4096, noise, random);
    const fs::path written = i % 4 == 3 ? fs::path(file.string() + ".plain") : file;
    std::ofstream(written, std::ios::binary) << bytes;
    if (i % 4 == 3) {
      Spawn({"qpdf", "--object-streams=generate", "--stream-data=preserve", written.string(),
             file.string()});
      fs::remove(written);
    }
  }
  std::ofstream(marker) << "done\n";
  return files;
}

std::uintmax_t TotalBytes(const std::vector<fs::path>& files) {
  std::uintmax_t total = 0;
  for (const fs::path& f : files) total += fs::file_size(f);
  return total;
}

// --- what is measured

std::size_t ListAll(const std::vector<fs::path>& files) {
  std::size_t links = 0;
  for (const fs::path& file : files) {
    const std::u16string path = NativePathToText(file.string());
    const docserver::DocumentFile document = docserver::DocumentFile::Open(path);
    std::unique_ptr<docserver::DocumentContent> content = docserver::CreatePdfContent(path);
    content->Load(document);
    for (std::size_t i = 0, n = content->ListLinks(); i < n; ++i) {
      const std::u16string target = content->AbsolutePath(i);
      if (target.starts_with(u"Q:")) throw std::runtime_error("a link matched");
      ++links;
    }
  }
  return links;
}

int Main(const std::vector<std::string>& args) {
  if (args.size() >= 3 && args[0] == "--list-only") {
    const std::vector<fs::path> files(args.begin() + 2, args.end());
    for (int round = std::stoi(args[1]); round > 0; --round) ListAll(files);
    return 0;
  }
  Options options;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--work")
      options.work = args[i + 1];
    else if (args[i] == "--files")
      options.files = std::stoi(args[i + 1]);
    else if (args[i] == "--trials")
      options.trials = std::stoi(args[i + 1]);
    else
      throw std::runtime_error("unknown option " + args[i]);
  }
  fs::create_directories(options.work);
  const std::vector<fs::path> files = MakeTree(options);
  const fs::path tree = options.work / "tree";

  // Every file read once first so that both sides start from the page cache.
  const std::vector<std::string> cat = {
      "sh", "-c", "find \"$0\" -type f -name '*.pdf' -exec cat {} + >/dev/null", tree.string()};
  Spawn(cat);
  const double catWalk = Best(options.trials, [&] { return Seconds([&] { Spawn(cat); }); });
  std::size_t listed = 0;
  const std::uint64_t readBefore = BytesRead();
  const double listWalk =
      Best(options.trials, [&] { return Seconds([&] { listed = ListAll(files); }); });
  const std::uint64_t readPerTrial =
      (BytesRead() - readBefore) / static_cast<std::uint64_t>(options.trials);
  const std::uintmax_t total = TotalBytes(files);
  std::printf(
      "walk of %zu PDFs (%ju MiB), Load+ListLinks+AbsolutePath: %.1f ms, cat %.1f ms, "
      "goal <= %.1fx: ratio %.2fx\n",
      files.size(), total >> 20, listWalk * 1e3, catWalk * 1e3, kWalkGoal, listWalk / catWalk);
  std::printf(
      "  %zu links listed, none matching; bytes read per walk %.1f MiB of %ju MiB (%.2f%%)\n",
      listed, static_cast<double>(readPerTrial) / (1 << 20), total >> 20,
      100.0 * static_cast<double>(readPerTrial) / static_cast<double>(total));
  return 0;
}

}  // namespace
}  // namespace quavelle::bench

int main(int argc, char** argv) {
  try {
    return quavelle::bench::Main(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const quavelle::ServiceError& error) {
    std::fprintf(stderr, "pdf_bench: service error %d: %s\n", error.number(),
                 quavelle::ToUtf8(error.description()).c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pdf_bench: %s\n", error.what());
  }
  return 1;
}
