// Packages written by a real office suite (run headless) go through the
// built-in document server, and the suite reads the re-pointed links back.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <zip.h>

#include "core/LinkRetargeting.h"
#include "core/ResultsList.h"
#include "core/RunContext.h"
#include "services/DocumentServer.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

extern char** environ;

namespace quavelle {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quavelle-interop-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::optional<fs::path> FindProgram(const std::string& name) {
  const char* searchPath = std::getenv("PATH");
  std::istringstream dirs(searchPath ? searchPath : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ZipDiscard {
  void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};

void WriteZip(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& parts) {
  int error = 0;
  std::unique_ptr<zip_t, ZipDiscard> archive(zip_open(path.c_str(), ZIP_CREATE | ZIP_EXCL, &error));
  if (!archive) throw std::runtime_error("cannot create " + path.string());
  for (const auto& [name, bytes] : parts) {
    zip_source_t* source = zip_source_buffer(archive.get(), bytes.data(), bytes.size(), 0);
    if (source == nullptr ||
        zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      throw std::runtime_error("cannot add " + name + " to " + path.string());
    }
  }
  if (zip_close(archive.get()) != 0) throw std::runtime_error("cannot write " + path.string());
  archive.release();
}

// The office suite run headless with a throw-away profile (and home) that
// saves file references as absolute URLs, so links to other drives stay put.
class OfficeSuite {
 public:
  OfficeSuite(fs::path program, const fs::path& workDir)
      : program_(std::move(program)), home_(workDir / "home"), profile_(workDir / "profile") {
    fs::create_directories(home_);
    fs::create_directories(profile_ / "user");
    WriteFile(profile_ / "user" / "registrymodifications.xcu",
              R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Save/URL"><prop oor:name="FileSystem" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/URL"><prop oor:name="Internet" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)");
  }

  // Converts every input in one start of the suite; outDir/<stem>.<format> each.
  // Returns the suite's console output, for failure messages.
  std::string ConvertTo(const std::string& format, const fs::path& outDir,
                        const std::vector<fs::path>& inputs) {
    fs::create_directories(outDir);
    std::vector<std::string> args = {program_.string(),
                                     "--headless",
                                     "--norestore",
                                     "--nolockcheck",
                                     "-env:UserInstallation=file://" + profile_.string(),
                                     "--convert-to",
                                     format,
                                     "--outdir",
                                     outDir.string()};
    for (const fs::path& input : inputs) args.push_back(input.string());
    const fs::path log = outDir / ("convert-" + format + ".log");
    const int status = Run(args, log);
    std::string output = ReadFile(log);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw std::runtime_error("office suite failed (status " + std::to_string(status) + "):\n" +
                               output);
    for (const fs::path& input : inputs) {
      const fs::path converted = outDir / input.stem().concat("." + format);
      if (!fs::exists(converted) || fs::file_size(converted) == 0)
        throw std::runtime_error("office suite wrote no " + converted.string() + ":\n" + output);
    }
    return output;
  }

 private:
  int Run(const std::vector<std::string>& args, const fs::path& log) {
    // Everything the child needs is built before fork.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string_view(*e).substr(0, 5) != "HOME=") env.emplace_back(*e);
    env.push_back("HOME=" + home_.string());
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) throw std::runtime_error("cannot create " + log.string());
    const pid_t pid = fork();
    if (pid == 0) {
      const int devNull = open("/dev/null", O_RDONLY);
      dup2(devNull, STDIN_FILENO);
      dup2(logFd, STDOUT_FILENO);
      dup2(logFd, STDERR_FILENO);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(logFd);
    if (pid < 0) throw std::runtime_error("fork failed");
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    return status;
  }

  fs::path program_;
  fs::path home_;
  fs::path profile_;
};

const char kWriterSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:p>Plan: <text:a xlink:type="simple" xlink:href="file:///C:/Data/Q1%20plan%20%C3%BC.odt">plan</text:a></text:p>
<text:p>Report: <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.odt">report</text:a></text:p>
<text:p>Site: <text:a xlink:type="simple" xlink:href="https://example.org/x">site</text:a></text:p>
<text:p><draw:frame draw:name="logo" text:anchor-type="as-char" svg:width="2cm" svg:height="1cm"><draw:image xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad" xlink:href="file:///C:/Data/logo.png"/></draw:frame></text:p>
</office:text></office:body></office:document>
)";

// A cell hyperlink to each kind of place and a formula that reads another
// workbook, with the cached copy of the sheet it reads.
const char kCalcSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet>
<table:table table:name="Sheet1">
<table:table-row><table:table-cell office:value-type="string"><text:p><text:a xlink:type="simple" xlink:href="file:///C:/Data/budget.ods">budget</text:a></text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell office:value-type="string"><text:p><text:a xlink:type="simple" xlink:href="file://srv1/proj/costs.xlsx">costs</text:a></text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell table:formula="of:=['file:///C:/Data/plan.ods'#$Sheet1.A1]*2" office:value-type="float" office:value="42"><text:p>42</text:p></table:table-cell></table:table-row>
</table:table>
<table:table table:name="'file:///C:/Data/plan.ods'#Sheet1" table:print="false"><table:table-source xlink:type="simple" xlink:href="file:///C:/Data/plan.ods" table:table-name="Sheet1" table:filter-name="calc8" table:mode="copy-results-only"/><table:table-row><table:table-cell office:value-type="float" office:value="21"><text:p>21</text:p></table:table-cell></table:table-row></table:table>
</office:spreadsheet></office:body></office:document>
)";

// A package as another word processor writes it: file URLs with backslashes,
// a share in the path part, an escaped space.
const std::vector<std::pair<std::string, std::string>> kWordStyleParts = {
    {"[Content_Types].xml",
     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)"},
    {"_rels/.rels",
     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)"},
    {"word/document.xml",
     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body><w:p><w:hyperlink r:id="rId2"><w:r><w:t>plan</w:t></w:r></w:hyperlink></w:p><w:p><w:hyperlink r:id="rId3"><w:r><w:t>share</w:t></w:r></w:hyperlink></w:p></w:body></w:document>)"},
    {"word/_rels/document.xml.rels",
     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" Target="file:///C:\Data\Q2%20plan.xlsx" TargetMode="External"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" Target="file:///\\srv1\proj\a.docx" TargetMode="External"/></Relationships>)"},
};

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string XmlUnescape(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities) {
    for (std::size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + 1))
      text.replace(at, std::string_view(entity).size(), plain);
  }
  return text;
}

// Where a reference in a flat file points, as a POSIX-style location: drive
// paths come out as "/D:/Data/x", shares as "//srv2/proj/x". The suite writes
// some references relative to the flat file's folder; those are resolved here.
std::string Locate(const std::string& reference, const fs::path& flatFileDir) {
  std::string ref = PercentDecode(reference);
  if (ref.empty()) return ref;
  if (ref.rfind("file://", 0) == 0) {
    ref.erase(0, 7);
    return ref.front() == '/' ? ref : "//" + ref;
  }
  if (ref.find("://") != std::string::npos || ref.front() == '/') return ref;
  // Climbed by hand: "../../..//srv2/x" names a share, which normalising would lose.
  fs::path folder = flatFileDir;
  std::string_view rest = ref;
  while (rest.substr(0, 3) == "../") {
    folder = folder.parent_path();
    rest.remove_prefix(3);
  }
  if (!rest.empty() && rest.front() == '/') return folder.string() + std::string(rest);
  return (folder / rest).lexically_normal().string();
}

// Every file location the flat file refers to: hyperlinks, images, table
// sources, external references in formulas and cached-table names.
std::set<std::string> ReferencedLocations(const fs::path& flatFile) {
  const std::string xml = ReadFile(flatFile);
  std::set<std::string> found;
  static const std::regex href(R"re(xlink:href="([^"]*)")re");
  for (std::sregex_iterator it(xml.begin(), xml.end(), href), end; it != end; ++it)
    found.insert(Locate(XmlUnescape((*it)[1]), flatFile.parent_path()));
  static const std::regex quotedUrl(R"re((?:table:formula|table:name)="([^"]*)")re");
  static const std::regex url(R"re('(file:[^']*)')re");
  for (std::sregex_iterator it(xml.begin(), xml.end(), quotedUrl), end; it != end; ++it) {
    const std::string value = XmlUnescape((*it)[1]);
    for (std::sregex_iterator u(value.begin(), value.end(), url); u != end; ++u)
      found.insert(Locate((*u)[1], flatFile.parent_path()));
  }
  return found;
}

std::set<std::u16string> ListedPaths(DocumentServer& server, const fs::path& package) {
  std::set<std::u16string> paths;
  auto document = server.Open(NativePathToText(package.string()));
  auto links = document->LinkedDocuments();
  if (!links) return paths;
  auto items = links->NewEnum();
  for (auto link = items->Next(); link; link = items->Next()) paths.insert(link->AbsolutePath());
  return paths;
}

// What the move does to a path: drive C: becomes D:, server srv1 becomes srv2.
std::optional<std::u16string> Moved(const std::u16string& path) {
  if (path.rfind(u"C:", 0) == 0) return u"D:" + path.substr(2);
  if (path.rfind(u"\\\\srv1\\", 0) == 0) return u"\\\\srv2\\" + path.substr(7);
  return std::nullopt;
}

class RecordedResults : public ResultsList {
 public:
  using Row = std::tuple<std::u16string, std::u16string, std::u16string>;
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows.insert({oldPath, newPath, containerName});
  }
  std::multiset<Row> rows;  // a link reported twice shows up twice
};

// One run of the folder walk over the real local file system.
void MoveDrive(DocumentServer& server, const fs::path& folder, const std::u16string& oldDrive,
               const std::u16string& newDrive, ResultsList& results) {
  auto fileSystem = CreateLocalFileSystem();
  auto visited = CreateLocalWalkGuard();
  RunContext ctx{oldDrive, newDrive, server, *fileSystem, results, *visited};
  ProcessFolder(ctx, NativePathToText(folder.string()));
}

struct Sample {
  std::string source;              // flat file the suite converts; empty: written here
  std::string format;              // package it converts it to
  std::string name;                // the package's name here
  std::string flatFormat;          // what the suite reads it back as
  std::set<std::u16string> links;  // what the server must list
  std::set<std::string> readBack;  // what the suite must see after the move
};

std::string Describe(const std::set<std::string>& locations) {
  std::string out;
  for (const std::string& l : locations) out += "\n  " + l;
  return out;
}

TEST(OfficeSuiteRoundTrip, SuiteReadsTheTargetsTheServerRepointed) {
  const std::optional<fs::path> soffice = FindProgram("soffice");
  if (!soffice) GTEST_SKIP() << "soffice (LibreOffice) is not installed: no round trip possible";

  TempDir work;
  OfficeSuite suite(*soffice, work.path());
  const fs::path src = work.path() / "src";
  fs::create_directories(src);
  WriteFile(src / "writer.fodt", kWriterSource);
  WriteFile(src / "calc.fods", kCalcSource);

  const std::set<std::u16string> writerLinks = {
      FromUtf8(u8"C:\\Data\\Q1 plan ü.odt"), u"\\\\srv1\\proj\\report.odt", u"C:\\Data\\logo.png"};
  const std::set<std::string> writerReadBack = {"/D:/Data/Q1 plan ü.odt", "//srv2/proj/report.odt",
                                                "/D:/Data/logo.png", "https://example.org/x"};
  const std::set<std::u16string> calcLinks = {u"C:\\Data\\budget.ods",
                                              u"\\\\srv1\\proj\\costs.xlsx", u"C:\\Data\\plan.ods"};
  const std::set<std::string> calcReadBack = {"/D:/Data/budget.ods", "//srv2/proj/costs.xlsx",
                                              "/D:/Data/plan.ods"};
  const std::vector<Sample> samples = {
      {"writer.fodt", "odt", "text-odt.odt", "fodt", writerLinks, writerReadBack},
      {"writer.fodt", "docx", "text-docx.docx", "fodt", writerLinks, writerReadBack},
      {"calc.fods", "ods", "sheet-ods.ods", "fods", calcLinks, calcReadBack},
      {"calc.fods", "xlsx", "sheet-xlsx.xlsx", "fods", calcLinks, calcReadBack},
      {"",
       "docx",
       "word-style.docx",
       "fodt",
       {u"C:\\Data\\Q2 plan.xlsx", u"\\\\srv1\\proj\\a.docx"},
       {"/D:/Data/Q2 plan.xlsx", "//srv2/proj/a.docx"}},
  };

  // The suite writes the packages, one start per format.
  const fs::path made = work.path() / "made";
  const fs::path moved = work.path() / "moved";
  fs::create_directories(moved);
  for (const Sample& s : samples) {
    if (s.source.empty()) {
      WriteZip(moved / s.name, kWordStyleParts);
      continue;
    }
    const fs::path out = made / s.format;
    suite.ConvertTo(s.format, out, {src / s.source});
    fs::copy_file(out / fs::path(s.source).stem().concat("." + s.format), moved / s.name);
  }

  auto server = CreateBuiltinDocumentServer();
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(ListedPaths(*server, moved / s.name), s.links);
  }

  // The move, as a user runs it: the drive first, then the server's name.
  RecordedResults results;
  MoveDrive(*server, moved, u"C:", u"D:", results);
  MoveDrive(*server, moved, u"\\\\srv1", u"\\\\srv2", results);
  std::multiset<RecordedResults::Row> expectedRows;
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    const std::u16string container = NativePathToText((moved / s.name).string());
    std::set<std::u16string> expected;
    for (const std::u16string& p : s.links) {
      expected.insert(*Moved(p));
      expectedRows.insert({p, *Moved(p), container});
    }
    EXPECT_EQ(ListedPaths(*server, moved / s.name), expected);
  }
  EXPECT_EQ(results.rows, expectedRows);

  // The suite opens what the server wrote, one start per flat format.
  const fs::path verify = work.path() / "verify";
  for (const std::string flatFormat : {"fodt", "fods"}) {
    std::vector<fs::path> inputs;
    for (const Sample& s : samples)
      if (s.flatFormat == flatFormat) inputs.push_back(moved / s.name);
    suite.ConvertTo(flatFormat, verify, inputs);
  }
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    const std::set<std::string> seen =
        ReferencedLocations(verify / fs::path(s.name).stem().concat("." + s.flatFormat));
    for (const std::string& location : s.readBack)
      EXPECT_TRUE(seen.count(location))
          << location << " not read back; the suite saw:" << Describe(seen);
    for (const std::string& location : seen) {
      EXPECT_EQ(location.find("/C:/"), std::string::npos) << "old drive left: " << location;
      EXPECT_EQ(location.find("srv1"), std::string::npos) << "old share left: " << location;
    }
  }
}

}  // namespace
}  // namespace quavelle
