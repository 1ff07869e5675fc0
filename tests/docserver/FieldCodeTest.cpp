// Files named by word-processing fields: listed, re-pointed in the style the
// instruction was written in, and read back.
#include <gtest/gtest.h>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

const std::string kNamespaces =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:office\"";

std::string Story(const std::string& root, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<w:" + root + " " +
         kNamespaces + "><w:body><w:p>" + body + "</w:p></w:body></w:" + root + ">";
}

std::string Run(const std::string& inner) { return "<w:r>" + inner + "</w:r>"; }
std::string Char(const std::string& type) {
  return Run("<w:fldChar w:fldCharType=\"" + type + "\"/>");
}
std::string Instr(const std::string& text) {
  return Run("<w:instrText xml:space=\"preserve\">" + text + "</w:instrText>");
}
// A complex field: its instruction pieces, then its result.
std::string Field(const std::vector<std::string>& pieces, const std::string& result = "x") {
  std::string out = Char("begin");
  for (const std::string& piece : pieces) out += piece[0] == '<' ? piece : Instr(piece);
  return out + Char("separate") + Run("<w:t>" + result + "</w:t>") + Char("end");
}

std::string Replaced(std::string text, const std::vector<std::pair<std::string, std::string>>& to) {
  for (const auto& [from, with] : to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), with);
  }
  return text;
}

using Edits = std::vector<std::pair<std::string, std::string>>;

struct FieldCase {
  FieldCase(std::string n, std::string b, std::vector<std::u16string> l, std::u16string p = u"",
            Edits e = {}, std::string r = "", Edits re = {})
      : name(std::move(n)),
        body(std::move(b)),
        links(std::move(l)),
        newPath(std::move(p)),
        edits(std::move(e)),
        rels(std::move(r)),
        relsEdits(std::move(re)) {}
  std::string name;
  std::string body;                                        // of word/document.xml
  std::vector<std::u16string> links;                       // listed, first to last
  std::u16string newPath;                                  // for the first link
  std::vector<std::pair<std::string, std::string>> edits;  // the body after
  std::string rels;                                        // word/_rels/document.xml.rels, if any
  std::vector<std::pair<std::string, std::string>> relsEdits;
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

class FieldCode : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldCode, IsListedAndRepointedInTheStyleFoundWithRunsKept) {
  const FieldCase& c = GetParam();
  TempFolder folder;
  const fs::path file = folder / "fields.docx";
  std::vector<Entry> parts;
  if (!c.rels.empty()) parts.push_back({"word/_rels/document.xml.rels", Rels(c.rels)});
  std::vector<Entry> package = DocxWith(parts);
  ASSERT_EQ(package.at(2).name, "word/document.xml");
  package[2].data = Story("document", c.body);
  WritePackage(file, package);
  EXPECT_EQ(LinkPaths(file), c.links);
  if (c.links.empty()) return;

  ASSERT_EQ(SetFirstLink(file, c.newPath), 0);
  std::vector<std::u16string> after = c.links;
  after[0] = c.newPath;
  EXPECT_EQ(LinkPaths(file), after);
  const std::vector<RawEntry> entries = ReadEntries(file, false);
  EXPECT_EQ(entries.at(2).bytes, Story("document", Replaced(c.body, c.edits)));
  if (!c.rels.empty()) {
    EXPECT_EQ(entries.at(3).bytes, Rels(Replaced(c.rels, c.relsEdits)));
  }
}

const std::string kOleRels =
    "<Relationship Id=\"rId5\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/oleObject\" "
    "Target=\"file:///C:\\Data\\plan.xlsx!Sheet1!R1C1:R5C5\" TargetMode=\"External\"/>";

INSTANTIATE_TEST_SUITE_P(
    Instructions, FieldCode,
    ::testing::Values(
        FieldCase{"SimpleField",
                  "<w:fldSimple w:instr=\" INCLUDETEXT &quot;C:\\\\Data\\\\simple.docx&quot; \">" +
                      Run("<w:t>x</w:t>") + "</w:fldSimple>",
                  {u"C:\\Data\\simple.docx"},
                  u"D:\\Data\\simple 2.docx",
                  {{"C:\\\\Data\\\\simple.docx", "D:\\\\Data\\\\simple 2.docx"}}},
        // The path is split over two runs, the second one bold: the new path goes
        // where the old began, the other run keeps its formatting and the rest.
        FieldCase{"SplitOverRuns",
                  Field({" INCLUDETEXT \"C:\\\\Data\\\\cha",
                         Run("<w:rPr><w:b/></w:rPr><w:instrText xml:space=\"preserve\">pter.docx\" "
                             "\\! </w:instrText>")}),
                  {u"C:\\Data\\chapter.docx"},
                  u"\\\\srv2\\proj\\chapter.docx",
                  {{"\"C:\\\\Data\\\\cha", "\"\\\\\\\\srv2\\\\proj\\\\chapter.docx\""},
                   {">pter.docx\" \\!", "> \\!"}}},
        FieldCase{"LinkWithItemAndSwitches",
                  Field({" LINK Book.Sheet.12 \"C:\\\\ruta\\\\libro.xlsx\" \"FS!F16C5\" \\a \\f 4 "
                         "\\r "}),
                  {u"C:\\ruta\\libro.xlsx"},
                  u"E:\\otra ruta\\libro.xlsx",
                  {{"C:\\\\ruta", "E:\\\\otra ruta"}}},
        FieldCase{"UnquotedSingleBackslashes",
                  Field({"INCLUDEPICTURE C:\\Pics\\logo.png \\d"}),
                  {u"C:\\Pics\\logo.png"},
                  u"D:\\My Pics\\logo.png",
                  {{"C:\\Pics\\logo.png", "\"D:\\My Pics\\logo.png\""}}},
        FieldCase{"DoubledShare",
                  Field({" INCLUDETEXT \"\\\\\\\\srv1\\\\proj\\\\a.docx\" "}),
                  {u"\\\\srv1\\proj\\a.docx"},
                  u"\\\\srv2\\proj\\a.docx",
                  {{"srv1", "srv2"}}},
        FieldCase{"HandTypedShare",
                  Field({" INCLUDETEXT \"\\\\srv1\\proj\\a.docx\" "}),
                  {u"\\\\srv1\\proj\\a.docx"},
                  u"\\\\srv2\\new\\a.docx",
                  {{"\\\\srv1\\proj", "\\\\srv2\\new"}}},
        // Another argument's escaped quotation marks stay as they are.
        FieldCase{"HyperlinkWithEscapedTip",
                  Field({" HYPERLINK \"file:///C:/Data/plan.xlsx\" \\l \"Sheet1\" \\o \"say "
                         "\\\"hi\\\"\" "}),
                  {u"C:\\Data\\plan.xlsx"},
                  u"D:\\Data\\plan.xlsx",
                  {{"file:///C:", "file:///D:"}}},
        FieldCase{
            "WebHyperlinkIsNoFile", Field({" HYPERLINK \"https://example.org/a.docx\" "}), {}, u""},
        // The database file and the connection string's data source are one link.
        FieldCase{"DatabaseFileAndConnection",
                  Field({" DATABASE \\d \"C:\\\\Data\\\\db.mdb\" \\c "
                         "\"Provider=Db.Provider.4.0;Password=\\\"\\\";Data "
                         "Source=C:\\\\Data\\\\db.mdb;Mode=Read\" \\s \"SELECT * FROM t\" "}),
                  {u"C:\\Data\\db.mdb"},
                  u"\\\\srv2\\db\\db.mdb",
                  {{"\\d \"C:\\\\Data", "\\d \"\\\\\\\\srv2\\\\db"},
                   {"Source=C:\\\\Data", "Source=\\\\\\\\srv2\\\\db"}}},
        FieldCase{"DdeAuto",
                  Field({"DDEAUTO Sheets \"C:\\\\Data\\\\plan.xlsx\" \"Sheet1!R1C1\" \\h"}),
                  {u"C:\\Data\\plan.xlsx"},
                  u"D:\\Data\\plan.xlsx",
                  {{"C:\\\\Data", "D:\\\\Data"}}},
        FieldCase{"DeletedInstruction",
                  "<w:del w:id=\"1\" w:author=\"a\">" + Char("begin") +
                      Run("<w:delInstrText xml:space=\"preserve\"> INCLUDETEXT "
                          "\"C:\\\\old.docx\" </w:delInstrText>") +
                      Char("end") + "</w:del>",
                  {u"C:\\old.docx"},
                  u"D:\\old.docx",
                  {{"C:\\\\old", "D:\\\\old"}}},
        // A path a nested field computes is no link; a nested field's own file is.
        FieldCase{"NestedComputedPath",
                  Field({" INCLUDETEXT \"", Field({" DOCPROPERTY Srv "}, "\\\\srv1"),
                         "\\\\proj\\\\a.docx\" "}),
                  {},
                  u""},
        FieldCase{"NestedFieldsOwnFile",
                  Field({" IF 1 = 1 \"", Field({" INCLUDETEXT \"C:\\\\x.docx\" "}), "\" \"\" "}),
                  {u"C:\\x.docx"},
                  u"D:\\x.docx",
                  {{"C:\\\\x", "D:\\\\x"}}},
        // A linked object: its relationship and its LINK field are one link.
        FieldCase{"LinkedObjectAndItsField",
                  Field({" LINK Book.Sheet.12 \"C:\\\\Data\\\\plan.xlsx\" \"Sheet1!R1C1:R5C5\" "
                         "\\a \\f 0 \\p "},
                        "<w:object><o:OLEObject Type=\"Link\" ProgID=\"Book.Sheet.12\" "
                        "ShapeID=\"_x0000_i1025\" DrawAspect=\"Content\" r:id=\"rId5\" "
                        "UpdateMode=\"Always\"/></w:object>"),
                  {u"C:\\Data\\plan.xlsx"},
                  u"\\\\srv2\\Data\\plan.xlsx",
                  {{"\"C:\\\\Data", "\"\\\\\\\\srv2\\\\Data"}},
                  kOleRels,
                  {{"file:///C:\\Data", "file:///\\\\srv2\\Data"}}},
        FieldCase{"VmlPictureSource",
                  Run("<w:pict><v:shape><v:imagedata r:id=\"rId7\" "
                      "o:href=\"file:///C:\\Pics\\logo.png\"/></v:shape></w:pict>"),
                  {u"C:\\Pics\\logo.png"},
                  u"D:\\Pics\\logo.png",
                  {{"C:\\Pics", "D:\\Pics"}}}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return info.param.name; });

// Headers and footers are stories of their own.
TEST(FieldCode, InAHeaderIsListedAfterTheDocumentsAndMoves) {
  TempFolder folder;
  const fs::path file = folder / "header.docx";
  const std::string header =
      Story("hdr", Field({" INCLUDEPICTURE \"file://srv1/proj/logo.png\" \\d "}));
  WritePackage(file, DocxWith({{"word/header1.xml", header}}));
  EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"\\\\srv1\\proj\\logo.png"});
  ASSERT_EQ(SetFirstLink(file, u"\\\\srv2\\proj\\logo.png"), 0);
  EXPECT_EQ(ReadEntries(file, false).at(3).bytes,
            Replaced(header, {{"file://srv1", "file://srv2"}}));
}

// A converted text keeps a field the office suite does not know as a field
// mark with its instruction, as the suite writes it.
TEST(FieldCode, KeptInAFieldMarkOfAConvertedTextIsALink) {
  const auto content = [](const std::string& path) {
    return OdfContent(
        "<text:p>B: <field:fieldmark-start text:name=\"__Fieldmark__1\" "
        "field:type=\"vnd.oasis.opendocument.field.UNHANDLED\" "
        "xmlns:field=\"urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0\">"
        "<field:param field:name=\"vnd.oasis.opendocument.field.code\" "
        "field:value=\"INCLUDETEXT &quot;" +
        path +
        "&quot; \\! \"/></field:fieldmark-start>chapter<field:fieldmark-end "
        "xmlns:field=\"urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0\"/>"
        "</text:p>");
  };
  TempFolder folder;
  const fs::path file = folder / "converted.odt";
  WritePackage(file, OdtWith({{"content.xml", content("C:\\\\Data\\\\chapter one.docx")}}));
  EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"C:\\Data\\chapter one.docx"});
  ASSERT_EQ(SetFirstLink(file, u"\\\\srv2\\Data\\chapter one.docx"), 0);
  EXPECT_EQ(ReadEntries(file, false).at(2).bytes,
            content("\\\\\\\\srv2\\\\Data\\\\chapter one.docx"));
}

}  // namespace
}  // namespace quavelle::docserver::testing
