// PDFs that an office suite exports (run headless) from a text document with
// file links: as URI actions, and as launch and remote go-to actions when it
// is told that a PDF viewer opens them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OfficeSuite.h"
#include "PdfFixture.h"
#include "services/Text.h"

namespace quavelle::docserver::testing {
namespace {

using quavelle::testing::OfficeSuite;

const char kSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:p>Plan: <text:a xlink:type="simple" xlink:href="file:///C:/Data/Q1%20plan%20%C3%BC.docx">plan</text:a></text:p>
<text:p>Report: <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.pdf">report</text:a></text:p>
<text:p>Site: <text:a xlink:type="simple" xlink:href="https://example.org/x">site</text:a></text:p>
</office:text></office:body></office:document>
)";

struct Export {
  const char* name;
  const char* filterOptions;          // the PDF export filter's options, as JSON
  const char8_t* firstLink;           // how the first link reads: a launch /F keeps the
                                      // suite's own "<C3><BC>" spelling of the escape
  std::vector<std::string> readBack;  // what qpdf's JSON dump shows after the move
  bool uriActions;                    // pdfinfo -url lists them
};

TEST(PdfOfficeSuite, ExportedFileLinksAreRepointedAndReadBack) {
  if (!OfficeSuite::Installed()) GTEST_SKIP() << "soffice is not installed: no exported PDFs";
  const Export exports[] = {
      {"uri",
       R"({"ExportLinksRelativeFsys":{"type":"boolean","value":"false"}})",
       u8"C:\\Data\\Q1 plan ü.docx",
       {"\"/URI\": \"u:file:///D:/Data/Q1%20plan%20%C3%BC.docx\"",
        "\"/URI\": \"u:file://srv2/proj/report.pdf\"", "\"/URI\": \"u:https://example.org/x\""},
       true},
      {"viewer",
       R"({"ExportLinksRelativeFsys":{"type":"boolean","value":"false"},"PDFViewSelection":{"type":"long","value":"1"}})",
       u8"C:\\Data\\Q1 plan <C3><BC>.docx",
       {"\"/F\": \"u:file:///D:/Data/Q1 plan <C3><BC>.docx\"",
        "\"/F\": \"u:file://srv2/proj/report.pdf\"", "\"/S\": \"/Launch\"", "\"/S\": \"/GoToR\""},
       false},
  };
  TempFolder work;
  const OfficeSuite suite(work.path());
  const fs::path source = work / "links.fodt";
  WriteBytes(source, kSource);
  for (const Export& e : exports) {
    SCOPED_TRACE(e.name);
    const fs::path original =
        suite
            .Convert({source}, std::string("pdf:writer_pdf_Export:") + e.filterOptions,
                     work / e.name)
            .at(0);
    const fs::path updated = work / e.name / "moved.pdf";

    // The move the folder walk makes: drive C: to D:, server srv1 to srv2.
    LoadedPdf pdf = LoadPdf(original);
    ASSERT_EQ(pdf.links.size(), 2u);
    EXPECT_EQ(pdf.links[0], FromUtf8(e.firstLink));
    EXPECT_EQ(pdf.links[1], u"\\\\srv1\\proj\\report.pdf");
    std::vector<std::u16string> moved = {u"D" + pdf.links[0].substr(1),
                                         u"\\\\srv2" + pdf.links[1].substr(6)};
    pdf.content->Repoint(0, moved[0]);
    pdf.content->Repoint(1, moved[1]);
    WriteChangedTo(*pdf.content, updated);

    ExpectSoundUpdate(original, updated);
    EXPECT_EQ(LoadPdf(updated).links, moved);
    const std::string json = QpdfJson(updated);
    for (const std::string& text : e.readBack)
      EXPECT_NE(json.find(text), std::string::npos) << text;
    EXPECT_EQ(json.find("srv1"), std::string::npos);
    if (e.uriActions) {
      const CommandResult urls = RunCommand("pdfinfo -url " + Quoted(updated));
      ASSERT_EQ(urls.status, 0) << urls.output;
      EXPECT_NE(urls.output.find("file:///D:/Data/Q1%20plan%20%C3%BC.docx"), std::string::npos)
          << urls.output;
      EXPECT_NE(urls.output.find("file://srv2/proj/report.pdf"), std::string::npos) << urls.output;
    }
  }
}

}  // namespace
}  // namespace quavelle::docserver::testing
