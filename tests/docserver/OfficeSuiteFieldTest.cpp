// Fields as an office suite writes them (run headless, skipped without one):
// it converts a flat text document whose fields name files to a
// word-processing package, the server re-points them, and the suite reads
// the package back with the new paths.
#include <gtest/gtest.h>

#include <fstream>

#include "OfficeSuite.h"
#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

// Fields the suite keeps as Word field codes, and a hyperlink it writes as one.
const char kFields[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:field="urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:p>A: <text:a xlink:type="simple" xlink:href="file:///C:/Data/plan.xlsx#Sheet1">plan</text:a></text:p>
<text:p>B: <field:fieldmark-start text:name="__Fieldmark__1" field:type="vnd.oasis.opendocument.field.UNHANDLED"><field:param field:name="vnd.oasis.opendocument.field.code" field:value="INCLUDETEXT &quot;C:\\Data\\chapter one.docx&quot; \! "/></field:fieldmark-start>chapter<field:fieldmark-end/></text:p>
<text:p>C: <field:fieldmark-start text:name="__Fieldmark__2" field:type="vnd.oasis.opendocument.field.UNHANDLED"><field:param field:name="vnd.oasis.opendocument.field.code" field:value=" LINK Book.Sheet.12 &quot;\\\\srv1\\proj\\libro.xlsx&quot; &quot;FS!F16C5&quot; \a \f 4 \r "/></field:fieldmark-start>linked<field:fieldmark-end/></text:p>
</office:text></office:body></office:document>
)";

using quavelle::testing::OfficeSuite;

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
  EXPECT_NE(flat.find("LINK Book.Sheet.12 &quot;\\\\\\\\srv2\\\\proj\\\\libro.xlsx&quot;"),
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
  if (!OfficeSuite::Installed()) GTEST_SKIP() << "soffice is not installed";
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

// A DDE link in a text and in a spreadsheet, the spreadsheet's formula that
// calls DDE with the same topic, and a formula that names a workbook the
// suite could not read, so that it keeps no cached copy of it.
const char kDdeText[] = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:dde-connection-decls><text:dde-connection-decl office:name="plan" office:dde-application="suite" office:dde-topic="C:\Data\plan.ods" office:dde-item="Sheet1.A1" office:automatic-update="true"/></text:dde-connection-decls>
<text:p>D: <text:dde-connection text:connection-name="plan">5</text:dde-connection></text:p>
</office:text></office:body></office:document>
)xml";
const char kDdeSheet[] = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet>
<table:table table:name="Sheet1"><table:table-row><table:table-cell table:formula="of:=DDE(&quot;suite&quot;;&quot;C:\Data\plan.ods&quot;;&quot;Sheet1.A1&quot;)" office:value-type="float" office:value="5"><text:p>5</text:p></table:table-cell><table:table-cell table:formula="of:=['file:///C:/Data/only.ods'#$Sheet1.B2]" office:value-type="float" office:value="1"><text:p>1</text:p></table:table-cell></table:table-row></table:table>
</office:spreadsheet></office:body></office:document>
)xml";

TEST(OfficeSuiteDde, LinksAndFormulaOnlyWorkbooksAreRepointedAndReadBackBySuite) {
  if (!OfficeSuite::Installed()) GTEST_SKIP() << "soffice is not installed";
  TempFolder work;
  OfficeSuite suite(work.path());
  std::ofstream(work / "dde.fodt") << kDdeText;
  std::ofstream(work / "sheet.fods") << kDdeSheet;
  const fs::path text = suite.Convert({work / "dde.fodt"}, "odt", work / "pkg").at(0);
  const fs::path sheet = suite.Convert({work / "sheet.fods"}, "ods", work / "pkg").at(0);
  ASSERT_EQ(LinkPaths(text), std::vector<std::u16string>{u"C:\\Data\\plan.ods"});
  ASSERT_EQ(LinkPaths(sheet),
            (std::vector<std::u16string>{u"C:\\Data\\plan.ods", u"C:\\Data\\only.ods"}));
  const std::vector<std::u16string> moved = {u"\\\\srv2\\data\\plan.ods", u"D:\\Data\\only.ods"};
  for (const fs::path& file : {text, sheet}) {
    auto server = CreateBuiltinDocumentServer();
    auto document = server->Open(U16(file.string()));
    EnumeratedLinks links(*document);
    for (std::size_t i = 0; i < LinkPaths(file).size(); ++i) links[i].SetPath(moved[i]);
    links.Finish();
  }
  EXPECT_EQ(LinkPaths(sheet), moved);

  // The text's declaration is the same attribute as the sheet's source, which
  // the suite reads back below; one start of the suite less.
  for (const RawEntry& entry : ReadEntries(text, false)) {
    if (entry.name != "content.xml") continue;
    EXPECT_NE(entry.bytes.find("office:dde-topic=\"\\\\srv2\\data\\plan.ods\""), std::string::npos);
  }
  const std::string flatSheet = ReadBytes(suite.Convert({sheet}, "fods", work / "back").at(0));
  EXPECT_NE(flatSheet.find("office:dde-topic=\"\\\\srv2\\data\\plan.ods\""), std::string::npos)
      << flatSheet;
  EXPECT_NE(flatSheet.find("DDE(&quot;suite&quot;;&quot;\\\\srv2\\data\\plan.ods&quot;"),
            std::string::npos);
  EXPECT_NE(flatSheet.find("file:///D:/Data/only.ods"), std::string::npos);
  EXPECT_EQ(flatSheet.find("C:\\Data"), std::string::npos);
  EXPECT_EQ(flatSheet.find("C:/Data"), std::string::npos);
}

}  // namespace
}  // namespace quavelle::docserver::testing
