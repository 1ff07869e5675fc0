// Fields as an office suite writes them (run headless, skipped without one):
// it converts a flat text document whose fields name files to a
// word-processing package, the server re-points them, and the suite reads
// the package back with the new paths.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

// Saves file references as absolute URLs, so that links to other drives stay put.
const char kProfile[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Save/URL"><prop oor:name="FileSystem" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)";

// Fields the suite keeps as Word field codes, and a hyperlink it writes as one.
const char kFields[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:field="urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:p>A: <text:a xlink:type="simple" xlink:href="file:///C:/Data/plan.xlsx#Sheet1">plan</text:a></text:p>
<text:p>B: <field:fieldmark-start text:name="__Fieldmark__1" field:type="vnd.oasis.opendocument.field.UNHANDLED"><field:param field:name="vnd.oasis.opendocument.field.code" field:value="INCLUDETEXT &quot;C:\\Data\\chapter one.docx&quot; \! "/></field:fieldmark-start>chapter<field:fieldmark-end/></text:p>
<text:p>C: <field:fieldmark-start text:name="__Fieldmark__2" field:type="vnd.oasis.opendocument.field.UNHANDLED"><field:param field:name="vnd.oasis.opendocument.field.code" field:value=" LINK Excel.Sheet.12 &quot;\\\\srv1\\proj\\libro.xlsx&quot; &quot;FS!F16C5&quot; \a \f 4 \r "/></field:fieldmark-start>linked<field:fieldmark-end/></text:p>
</office:text></office:body></office:document>
)";

class OfficeSuite {
 public:
  explicit OfficeSuite(const fs::path& work) : work_(work) {
    fs::create_directories(work / "profile/user");
    fs::create_directories(work / "home");
    std::ofstream(work / "profile/user/registrymodifications.xcu") << kProfile;
  }
  // Converts the inputs to format in outDir, in one start of the suite; the
  // converted files' paths.
  std::vector<fs::path> Convert(const std::vector<fs::path>& inputs, const std::string& format,
                                const fs::path& outDir) {
    fs::create_directories(outDir);
    std::string command = "HOME=" + (work_ / "home").string() +
                          " soffice --headless --norestore --nolockcheck "
                          "-env:UserInstallation=file://" +
                          (work_ / "profile").string() + " --convert-to " + format + " --outdir " +
                          outDir.string();
    for (const fs::path& input : inputs) command += " " + input.string();
    command += " </dev/null >" + (work_ / "convert.log").string() + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadBytes(work_ / "convert.log");
    std::vector<fs::path> out;
    for (const fs::path& input : inputs) {
      out.push_back(outDir / input.stem().concat("." + format));
      EXPECT_TRUE(fs::exists(out.back())) << ReadBytes(work_ / "convert.log");
    }
    return out;
  }

 private:
  fs::path work_;
};

bool HaveOfficeSuite() { return std::system("command -v soffice >/dev/null 2>&1") == 0; }

const std::vector<std::u16string> kBefore = {u"C:\\Data\\plan.xlsx", u"C:\\Data\\chapter one.docx",
                                             u"\\\\srv1\\proj\\libro.xlsx"};
const std::vector<std::u16string> kAfter = {u"D:\\Data\\plan.xlsx", u"E:\\Moved\\chapter one.docx",
                                            u"\\\\srv2\\proj\\libro.xlsx"};

void RepointAll(const fs::path& file) {
  auto server = CreateBuiltinDocumentServer();
  auto document = server->Open(U16(file.string()));
  EnumeratedLinks links(*document);
  for (std::size_t i = 0; i < kAfter.size(); ++i) links[i].SetPath(kAfter[i]);
  links.Finish();
}

void ExpectNewPaths(const std::string& flat) {
  EXPECT_NE(flat.find("INCLUDETEXT &quot;E:\\\\Moved\\\\chapter one.docx&quot;"), std::string::npos)
      << flat;
  EXPECT_NE(flat.find("LINK Excel.Sheet.12 &quot;\\\\\\\\srv2\\\\proj\\\\libro.xlsx&quot;"),
            std::string::npos);
  EXPECT_NE(flat.find("D:/Data/plan.xlsx"), std::string::npos);
  EXPECT_EQ(flat.find("srv1"), std::string::npos);
  EXPECT_EQ(flat.find("C:\\\\Data"), std::string::npos);
}

// The suite writes each instruction in one run; a word processor that saw a
// path typed in pieces keeps each piece in a run of its own, formatted apart.
std::vector<Entry> SplitOverRuns(const fs::path& docx) {
  std::vector<Entry> split;
  for (RawEntry& entry : ReadEntries(docx, false)) {
    if (entry.name == "word/document.xml") {
      const std::string piece = "Data\\\\chap";
      const std::size_t at = entry.bytes.find(piece);
      EXPECT_NE(at, std::string::npos) << entry.bytes;
      if (at != std::string::npos) {
        entry.bytes.insert(at + piece.size(),
                           "</w:instrText></w:r><w:r><w:rPr><w:i/></w:rPr>"
                           "<w:instrText xml:space=\"preserve\">");
      }
    }
    split.push_back({entry.name, entry.bytes});
  }
  return split;
}

TEST(OfficeSuiteFields, WrittenBySuiteWholeOrSplitAreRepointedAndReadBackBySuite) {
  if (!HaveOfficeSuite()) GTEST_SKIP() << "soffice is not installed";
  TempFolder work;
  OfficeSuite suite(work.path());
  std::ofstream(work / "fields.fodt") << kFields;
  const fs::path whole = suite.Convert({work / "fields.fodt"}, "docx", work / "docx").at(0);
  const fs::path split = work / "split.docx";
  WritePackage(split, SplitOverRuns(whole));
  for (const fs::path& file : {whole, split}) {
    ASSERT_EQ(LinkPaths(file), kBefore) << file;
    RepointAll(file);
    EXPECT_EQ(LinkPaths(file), kAfter) << file;
  }
  for (const fs::path& flat : suite.Convert({whole, split}, "fodt", work / "back")) {
    SCOPED_TRACE(flat.string());
    ExpectNewPaths(ReadBytes(flat));
  }
}

}  // namespace
}  // namespace quavelle::docserver::testing
