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

// A word-processing package whose document's paragraph is body, with the
// document's relationships when given.
PackageCase Fields(std::string name, const std::string& body, std::vector<std::u16string> links,
                   std::u16string newPath = u"", Edits edits = {}, const std::string& rels = "") {
  std::vector<Entry> parts;
  if (!rels.empty()) parts.push_back({"word/_rels/document.xml.rels", Rels(rels)});
  std::vector<Entry> package = DocxWith(parts);
  package.at(2).data = Story("document", body);
  return {std::move(name),  "fields.docx",      package,
          std::move(links), std::move(newPath), std::move(edits)};
}

const std::string kOleRels =
    "<Relationship Id=\"rId5\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/oleObject\" "
    "Target=\"file:///C:\\Data\\plan.xlsx!Sheet1!R1C1:R5C5\" TargetMode=\"External\"/>";

INSTANTIATE_TEST_SUITE_P(
    Instructions, RepointedPackage,
    ::testing::Values(
        Fields("SimpleField",
               "<w:fldSimple w:instr=\" INCLUDETEXT &quot;C:\\\\Data\\\\simple.docx&quot; \">" +
                   Run("<w:t>x</w:t>") + "</w:fldSimple>",
               {u"C:\\Data\\simple.docx"}, u"D:\\Data\\simple 2.docx",
               {{"C:\\\\Data\\\\simple.docx", "D:\\\\Data\\\\simple 2.docx"}}),
        // The path is split over two runs, the second one bold: the new path goes
        // where the old began, the other run keeps its formatting and the rest.
        Fields("SplitOverRuns",
               Field({" INCLUDETEXT \"C:\\\\Data\\\\cha",
                      Run("<w:rPr><w:b/></w:rPr><w:instrText xml:space=\"preserve\">pter.docx\" "
                          "\\! </w:instrText>")}),
               {u"C:\\Data\\chapter.docx"}, u"\\\\srv2\\proj\\chapter.docx",
               {{"\"C:\\\\Data\\\\cha", "\"\\\\\\\\srv2\\\\proj\\\\chapter.docx\""},
                {">pter.docx\" \\!", "> \\!"}}),
        Fields("LinkWithItemAndSwitches",
               Field({" LINK Book.Sheet.12 \"C:\\\\ruta\\\\libro.xlsx\" \"FS!F16C5\" \\a \\f 4 "
                      "\\r "}),
               {u"C:\\ruta\\libro.xlsx"}, u"E:\\otra ruta\\libro.xlsx",
               {{"C:\\\\ruta", "E:\\\\otra ruta"}}),
        Fields("UnquotedSingleBackslashes", Field({"INCLUDEPICTURE C:\\Pics\\logo.png \\d"}),
               {u"C:\\Pics\\logo.png"}, u"D:\\My Pics\\logo.png",
               {{"C:\\Pics\\logo.png", "\"D:\\My Pics\\logo.png\""}}),
        Fields("DoubledShare", Field({" INCLUDETEXT \"\\\\\\\\srv1\\\\proj\\\\a.docx\" "}),
               {u"\\\\srv1\\proj\\a.docx"}, u"\\\\srv2\\proj\\a.docx", {{"srv1", "srv2"}}),
        Fields("HandTypedShare", Field({" INCLUDETEXT \"\\\\srv1\\proj\\a.docx\" "}),
               {u"\\\\srv1\\proj\\a.docx"}, u"\\\\srv2\\new\\a.docx",
               {{"\\\\srv1\\proj", "\\\\srv2\\new"}}),
        // Another argument's escaped quotation marks stay as they are.
        Fields("HyperlinkWithEscapedTip",
               Field({" HYPERLINK \"file:///C:/Data/plan.xlsx\" \\l \"Sheet1\" \\o \"say "
                      "\\\"hi\\\"\" "}),
               {u"C:\\Data\\plan.xlsx"}, u"D:\\Data\\plan.xlsx", {{"file:///C:", "file:///D:"}}),
        Fields("WebHyperlinkIsNoFile", Field({" HYPERLINK \"https://example.org/a.docx\" "}), {},
               u""),
        // The database file and the connection string's data source are one link.
        Fields("DatabaseFileAndConnection",
               Field({" DATABASE \\d \"C:\\\\Data\\\\db.mdb\" \\c "
                      "\"Provider=Db.Provider.4.0;Password=\\\"\\\";Data "
                      "Source=C:\\\\Data\\\\db.mdb;Mode=Read\" \\s \"SELECT * FROM t\" "}),
               {u"C:\\Data\\db.mdb"}, u"\\\\srv2\\db\\db.mdb",
               {{"\\d \"C:\\\\Data", "\\d \"\\\\\\\\srv2\\\\db"},
                {"Source=C:\\\\Data", "Source=\\\\\\\\srv2\\\\db"}}),
        Fields("DdeAuto", Field({"DDEAUTO Sheets \"C:\\\\Data\\\\plan.xlsx\" \"Sheet1!R1C1\" \\h"}),
               {u"C:\\Data\\plan.xlsx"}, u"D:\\Data\\plan.xlsx", {{"C:\\\\Data", "D:\\\\Data"}}),
        Fields("DeletedInstruction",
               "<w:del w:id=\"1\" w:author=\"a\">" + Char("begin") +
                   Run("<w:delInstrText xml:space=\"preserve\"> INCLUDETEXT "
                       "\"C:\\\\old.docx\" </w:delInstrText>") +
                   Char("end") + "</w:del>",
               {u"C:\\old.docx"}, u"D:\\old.docx", {{"C:\\\\old", "D:\\\\old"}}),
        // A path a nested field computes is no link; a nested field's own file is.
        Fields("NestedComputedPath",
               Field({" INCLUDETEXT \"", Field({" DOCPROPERTY Srv "}, "\\\\srv1"),
                      "\\\\proj\\\\a.docx\" "}),
               {}, u""),
        Fields("NestedFieldsOwnFile",
               Field({" IF 1 = 1 \"", Field({" INCLUDETEXT \"C:\\\\x.docx\" "}), "\" \"\" "}),
               {u"C:\\x.docx"}, u"D:\\x.docx", {{"C:\\\\x", "D:\\\\x"}}),
        // A linked object: its relationship and its LINK field are one link.
        Fields("LinkedObjectAndItsField",
               Field({" LINK Book.Sheet.12 \"C:\\\\Data\\\\plan.xlsx\" \"Sheet1!R1C1:R5C5\" "
                      "\\a \\f 0 \\p "},
                     "<w:object><o:OLEObject Type=\"Link\" ProgID=\"Book.Sheet.12\" "
                     "ShapeID=\"_x0000_i1025\" DrawAspect=\"Content\" r:id=\"rId5\" "
                     "UpdateMode=\"Always\"/></w:object>"),
               {u"C:\\Data\\plan.xlsx"}, u"\\\\srv2\\Data\\plan.xlsx",
               {{"\"C:\\\\Data", "\"\\\\\\\\srv2\\\\Data"},
                {"file:///C:\\Data", "file:///\\\\srv2\\Data"}},
               kOleRels),
        Fields("VmlPictureSource",
               Run("<w:pict><v:shape><v:imagedata r:id=\"rId7\" "
                   "o:href=\"file:///C:\\Pics\\logo.png\"/></v:shape></w:pict>"),
               {u"C:\\Pics\\logo.png"}, u"D:\\Pics\\logo.png", {{"C:\\Pics", "D:\\Pics"}})),
    CaseName);

// A converted text keeps a field the office suite does not know as a field
// mark with its instruction, as the suite writes it.
const std::string kFieldMark = OdfContent(
    "<text:p>B: <field:fieldmark-start text:name=\"__Fieldmark__1\" "
    "field:type=\"vnd.oasis.opendocument.field.UNHANDLED\" "
    "xmlns:field=\"urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0\">"
    "<field:param field:name=\"vnd.oasis.opendocument.field.code\" "
    "field:value=\"INCLUDETEXT &quot;C:\\\\Data\\\\chapter one.docx&quot; \\! \"/>"
    "</field:fieldmark-start>chapter<field:fieldmark-end "
    "xmlns:field=\"urn:openoffice:names:experimental:ooo-ms-interop:xmlns:field:1.0\"/>"
    "</text:p>");

INSTANTIATE_TEST_SUITE_P(
    OtherStories, RepointedPackage,
    ::testing::Values(
        // Headers and footers are stories of their own.
        PackageCase{"FieldInAHeader",
                    "header.docx",
                    DocxWith({{"word/header1.xml",
                               Story("hdr", Field({" INCLUDEPICTURE \"file://srv1/proj/logo.png\" "
                                                   "\\d "}))}}),
                    {u"\\\\srv1\\proj\\logo.png"},
                    u"\\\\srv2\\proj\\logo.png",
                    {{"file://srv1", "file://srv2"}}},
        PackageCase{"FieldMarkOfAConvertedText",
                    "converted.odt",
                    OdtWith({{"content.xml", kFieldMark}}),
                    {u"C:\\Data\\chapter one.docx"},
                    u"\\\\srv2\\Data\\chapter one.docx",
                    {{"C:\\\\Data", "\\\\\\\\srv2\\\\Data"}}}),
    CaseName);

}  // namespace
}  // namespace quavelle::docserver::testing
