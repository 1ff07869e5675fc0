// Packages written by a real office suite (run headless) go through the folder
// walk and the built-in document server, and the suite reads the re-pointed links back.

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "OfficeSuite.h"
#include "TempFolder.h"
#include "core/LinkRetargeting.h"
#include "core/ResultsList.h"
#include "core/RunContext.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

namespace quavelle {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + path.string());
}

using testing::ReadDecoded;

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

using Row = std::tuple<std::u16string, std::u16string, std::u16string>;

class RecordedResults : public ResultsList {
 public:
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows.insert({oldPath, newPath, containerName});
  }
  std::multiset<Row> rows;  // a link reported twice shows up twice
};

struct Sample {
  std::string name;                   // package the suite writes from <stem>.<flat>
  std::string flat;                   // flat format written and read back
  std::vector<std::u16string> links;  // old paths; C: goes to D:, \\srv1 to \\srv2
  std::vector<std::string> readBack;  // what the suite must see after the move
};

TEST(OfficeSuiteRoundTrip, SuiteReadsTheTargetsTheFolderWalkRepointed) {
  if (!testing::OfficeSuite::Installed())
    GTEST_SKIP() << "soffice (LibreOffice) is not installed: no round trip possible";

  testing::TempFolder work;
  const testing::OfficeSuite suite(work.path());
  const fs::path src = work.path() / "src", moved = work.path() / "moved",
                 verify = work.path() / "verify";
  fs::create_directories(src);

  const std::vector<std::u16string> writerLinks = {
      FromUtf8(u8"C:\\Data\\Q1 plan ü.odt"), u"\\\\srv1\\proj\\report.odt", u"C:\\Data\\logo.png"};
  const std::vector<std::string> writerReadBack = {"/D:/Data/Q1 plan ü.odt",
                                                   "//srv2/proj/report.odt", "/D:/Data/logo.png",
                                                   "https://example.org/x"};
  const std::vector<std::u16string> calcLinks = {
      u"C:\\Data\\budget.ods", u"\\\\srv1\\proj\\costs.xlsx", u"C:\\Data\\plan.ods"};
  const std::vector<std::string> calcReadBack = {"/D:/Data/budget.ods", "//srv2/proj/costs.xlsx",
                                                 "/D:/Data/plan.ods"};
  const std::vector<Sample> samples = {{"text-odt.odt", "fodt", writerLinks, writerReadBack},
                                       {"text-docx.docx", "fodt", writerLinks, writerReadBack},
                                       {"sheet-ods.ods", "fods", calcLinks, calcReadBack},
                                       {"sheet-xlsx.xlsx", "fods", calcLinks, calcReadBack}};

  // The suite writes the packages, one start per format.
  for (const Sample& s : samples) {
    const fs::path source = src / fs::path(s.name).replace_extension(s.flat);
    WriteFile(source, s.flat == "fodt" ? kWriterSource : kCalcSource);
    suite.Convert({source}, fs::path(s.name).extension().string().substr(1), moved);
  }

  // The move, as a user runs it: the drive first, then the server's name.
  auto server = CreateBuiltinDocumentServer();
  auto fileSystem = CreateLocalFileSystem();
  RecordedResults results;
  for (const auto& [oldDrive, newDrive] :
       {std::pair{u"C:", u"D:"}, std::pair{u"\\\\srv1", u"\\\\srv2"}}) {
    auto visited = CreateLocalWalkGuard();
    RunContext ctx{oldDrive, newDrive, *server, *fileSystem, results, *visited};
    ProcessFolder(ctx, NativePathToText(moved.string()));
  }
  std::multiset<Row> expectedRows;
  for (const Sample& s : samples) {
    for (const std::u16string& p : s.links) {
      const std::u16string repointed =
          p[0] == u'C' ? u"D" + p.substr(1) : u"\\\\srv2" + p.substr(6);
      expectedRows.insert({p, repointed, NativePathToText((moved / s.name).string())});
    }
  }
  EXPECT_EQ(results.rows, expectedRows);

  // The suite opens what the folder walk wrote, one start per flat format.
  for (const std::string flat : {"fodt", "fods"}) {
    std::vector<fs::path> inputs;
    for (const Sample& s : samples)
      if (s.flat == flat) inputs.push_back(moved / s.name);
    suite.Convert(inputs, flat, verify);
  }
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    const std::string seen = ReadDecoded(verify / fs::path(s.name).replace_extension(s.flat));
    for (const std::string& target : s.readBack)
      EXPECT_NE(seen.find(target), std::string::npos) << target << " not read back";
    EXPECT_EQ(seen.find("C:/"), std::string::npos) << "old drive left";
    EXPECT_EQ(seen.find("srv1"), std::string::npos) << "old share left";
  }
}

}  // namespace
}  // namespace quavelle
