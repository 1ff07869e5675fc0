// Hand-written PDFs, one for each place a file link lives and each form it is
// written in, loaded from real files, re-pointed, and read back by qpdf.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CaughtError.h"
#include "PdfFixture.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver::testing {
namespace {

using quavelle::testing::FailsNaming;

std::string Utf8(const std::u16string& text) { return ToUtf8(text); }

// Re-points link index of original into updated and checks the update: the
// original as its prefix, qpdf's clean check, the links read back, and each
// of readBack in qpdf's JSON dump. No links: nothing listed, nothing changed.
void ExpectRepointed(const fs::path& original, const fs::path& updated,
                     const std::vector<std::u16string>& links, std::size_t index,
                     const std::u16string& newPath, const std::vector<std::string>& readBack) {
  LoadedPdf pdf = LoadPdf(original);
  ASSERT_EQ(pdf.links, links);
  EXPECT_FALSE(pdf.content->HasChanges());
  if (links.empty()) return;
  pdf.content->Repoint(index, newPath);
  EXPECT_TRUE(pdf.content->HasChanges());
  EXPECT_EQ(pdf.content->AbsolutePath(index), newPath);
  WriteChangedTo(*pdf.content, updated);
  ExpectSoundUpdate(original, updated);
  std::vector<std::u16string> expected = links;
  expected[index] = newPath;
  EXPECT_EQ(LoadPdf(updated).links, expected);
  const std::string json = QpdfJson(updated);
  for (const std::string& text : readBack) EXPECT_NE(json.find(text), std::string::npos) << text;
}

struct KindCase {
  const char* name;
  std::string pdf;
  std::vector<std::u16string> links = {};  // as listed, in order
  std::size_t index = 0;                   // the one re-pointed
  std::u16string newPath = u"";
  std::vector<std::string> readBack = {};  // JSON text qpdf shows afterwards
};

std::vector<KindCase> KindCases() {
  const std::string gotoR = "<< /S /GoToR /F (/C/Data/report.pdf) /D [0 /Fit] >>";
  return {
      {"uri-drive-url",
       OnePagePdf("", "4 0 R 5 0 R",
                  {LinkAnnotation("<< /S /URI /URI (file:///C:/Data/plan.docx) >>"),
                   LinkAnnotation("<< /S /URI /URI (https://example.org/) >>")}),
       {u"C:\\Data\\plan.docx"},
       0,
       u"D:\\Archive\\plan.docx",
       {"\"/URI\": \"u:file:///D:/Archive/plan.docx\"", "\"/URI\": \"u:https://example.org/\""}},
      {"uri-share-url",
       OnePagePdf("", "4 0 R",
                  {LinkAnnotation("<< /S /URI /URI (file://srv1/proj/report.pdf) >>")}),
       {u"\\\\srv1\\proj\\report.pdf"},
       0,
       u"\\\\srv2\\proj\\report.pdf",
       {"\"/URI\": \"u:file://srv2/proj/report.pdf\""}},
      {"goto-remote-string",
       OnePagePdf("", "4 0 R", {LinkAnnotation(gotoR)}),
       {u"C:\\Data\\report.pdf"},
       0,
       u"D:\\Data\\report.pdf",
       {"\"/F\": \"u:/D/Data/report.pdf\""}},
      {"launch-with-windows-name",
       OnePagePdf("", "4 0 R",
                  {LinkAnnotation("<< /S /Launch /F (/C/Tools/run.bat) /Win << /F "
                                  "(C:\\\\Tools\\\\run.bat) /P (-q) >> >>")}),
       {u"C:\\Tools\\run.bat"},
       0,
       u"D:\\Tools\\run.bat",
       {"\"/F\": \"u:/D/Tools/run.bat\"", "\"/F\": " + JsonText("D:\\Tools\\run.bat"),
        "\"/P\": \"u:-q\""}},
      {"launch-with-only-a-windows-name",
       OnePagePdf("", "4 0 R",
                  {LinkAnnotation("<< /S /Launch /Win << /F (\\\\\\\\srv1\\\\proj\\\\a.xlsx) "
                                  "/O (open) >> >>")}),
       {u"\\\\srv1\\proj\\a.xlsx"},
       0,
       u"\\\\srv2\\proj\\a.xlsx",
       {"\"/F\": " + JsonText("\\\\srv2\\proj\\a.xlsx"), "\"/O\": \"u:open\""}},
      {"file-dictionary",
       OnePagePdf("", "4 0 R",
                  {LinkAnnotation("<< /S /GoToR /F 5 0 R /D [0 /Fit] >>"),
                   "<< /Type /Filespec /F (/C/Data/a.pdf) /UF (/C/Data/a.pdf) /DOS "
                   "(C:\\\\DATA\\\\A.PDF) /Unix (/C/Data/a.pdf) >>"}),
       {u"C:\\Data\\a.pdf"},
       0,
       u"\\\\srv2\\proj\\a.pdf",
       {"\"/F\": \"u://srv2/proj/a.pdf\"", "\"/UF\": \"u://srv2/proj/a.pdf\"",
        "\"/DOS\": " + JsonText("\\\\srv2\\proj\\a.pdf"), "\"/Unix\": \"u://srv2/proj/a.pdf\""}},
      {"outline-items",
       OnePagePdf("/Outlines 4 0 R", "",
                  {"<< /Type /Outlines /First 5 0 R /Last 6 0 R /Count 3 >>",
                   "<< /Title (a) /Parent 4 0 R /Next 6 0 R /A << /S /GoToR /F "
                   "(//srv1/proj/a.pdf) /D [0 /Fit] >> >>",
                   "<< /Title (b) /Parent 4 0 R /Prev 5 0 R /First 7 0 R /Last 7 0 R /Count 1 >>",
                   "<< /Title (c) /Parent 6 0 R /A << /S /Launch /F (/C/x/child.docx) >> >>"}),
       {u"\\\\srv1\\proj\\a.pdf", u"C:\\x\\child.docx"},
       1,
       u"D:\\x\\child.docx",
       {"\"/F\": \"u:/D/x/child.docx\"", "\"/F\": \"u://srv1/proj/a.pdf\""}},
      {"open-action-and-document-actions",
       OnePagePdf("/OpenAction << /S /Launch /F (/C/Data/start.docx) >> /AA << /WC << /S /URI "
                  "/URI (file:///C:/Data/close.docx) >> >>",
                  ""),
       {u"C:\\Data\\start.docx", u"C:\\Data\\close.docx"},
       0,
       u"C:\\Moved\\start.docx",
       {"\"/F\": \"u:/C/Moved/start.docx\"", "\"/URI\": \"u:file:///C:/Data/close.docx\""}},
      {"form-field-actions",
       OnePagePdf("/AcroForm << /Fields [4 0 R 5 0 R] >>", "4 0 R",
                  {"<< /FT /Btn /Ff 65536 /T (go) /Type /Annot /Subtype /Widget /Rect [0 0 9 9] "
                   "/P 3 0 R /A << /S /Launch /F (/C/Data/form.xlsx) >> /AA << /E << /S /URI "
                   "/URI (file:///C:/Data/hover.docx) >> >> >>",
                   "<< /T (group) /Kids [6 0 R] >>",
                   "<< /Parent 5 0 R /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /A << /S "
                   "/GoToR /F (/C/Data/kid.pdf) /D [0 /Fit] >> >>"}),
       {u"C:\\Data\\form.xlsx", u"C:\\Data\\hover.docx", u"C:\\Data\\kid.pdf"},
       2,
       u"D:\\Data\\kid.pdf",
       {"\"/F\": \"u:/D/Data/kid.pdf\"", "\"/F\": \"u:/C/Data/form.xlsx\""}},
      {"chained-actions-and-a-shared-one",
       OnePagePdf("", "4 0 R 5 0 R 5 0 R",
                  {LinkAnnotation("<< /S /URI /URI (file:///C:/a.docx) /Next [<< /S /Launch /F "
                                  "(/C/b.docx) >>] >>"),
                   LinkAnnotation("6 0 R"), gotoR}),
       {u"C:\\a.docx", u"C:\\b.docx", u"C:\\Data\\report.pdf"},
       1,
       u"E:\\b.docx",
       {"\"/F\": \"u:/E/b.docx\"", "\"/URI\": \"u:file:///C:/a.docx\""}},
      // Web, internal and mail links name no file; a relative URI counts from the
      // document's base address; a file dictionary with the file inside names nothing.
      {"no-file-links",
       OnePagePdf("", "4 0 R 5 0 R 6 0 R",
                  {LinkAnnotation("<< /S /URI /URI (https://example.org/a.pdf) >>"),
                   LinkAnnotation("<< /S /GoTo /D [3 0 R /Fit] >>"),
                   LinkAnnotation("<< /S /URI /URI (mailto:someone@example.org) >>")})},
      {"relative-uri-under-a-web-base",
       OnePagePdf("/URI << /Base (https://example.org/docs/) >>", "4 0 R",
                  {LinkAnnotation("<< /S /URI /URI (plan.docx) >>")})},
      {"embedded-file",
       OnePagePdf("", "4 0 R",
                  {LinkAnnotation("<< /S /Launch /F << /Type /Filespec /F (/C/a.txt) /EF << /F 5 0 "
                                  "R >> >> >>"),
                   "<< /Type /EmbeddedFile /Length 1 >>\nstream\nx\nendstream"})},
  };
}

TEST(PdfContent, ListsAndRepointsEachKindOfLink) {
  TempFolder folder;
  for (const KindCase& c : KindCases()) {
    SCOPED_TRACE(c.name);
    const fs::path original = folder / (std::string(c.name) + ".pdf");
    WriteBytes(original, c.pdf);
    ExpectRepointed(original, folder / (std::string(c.name) + "-new.pdf"), c.links, c.index,
                    c.newPath, c.readBack);
  }
}

TEST(PdfContent, UriLinksReadBackByAnotherReader) {
  if (!HaveCommand("pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
  TempFolder folder;
  const fs::path original = folder / "uri.pdf", updated = folder / "uri-new.pdf";
  WriteBytes(original,
             OnePagePdf("", "4 0 R 5 0 R",
                        {LinkAnnotation("<< /S /URI /URI (file:///C:/Data/Q1%20plan.docx) >>"),
                         LinkAnnotation("<< /S /URI /URI (file://srv1/proj/b.docx) >>")}));
  LoadedPdf pdf = LoadPdf(original);
  ASSERT_EQ(pdf.links.size(), 2u);
  pdf.content->Repoint(0, FromUtf8(u8"D:\\Data\\Q2 plän.docx"));
  pdf.content->Repoint(1, u"\\\\srv2\\proj\\b.docx");
  WriteChangedTo(*pdf.content, updated);
  ExpectSoundUpdate(original, updated);
  const CommandResult urls = RunCommand("pdfinfo -url " + Quoted(updated));
  ASSERT_EQ(urls.status, 0) << urls.output;
  EXPECT_NE(urls.output.find("file:///D:/Data/Q2%20pl%C3%A4n.docx"), std::string::npos)
      << urls.output;
  EXPECT_NE(urls.output.find("file://srv2/proj/b.docx"), std::string::npos) << urls.output;
  EXPECT_EQ(urls.output.find("srv1"), std::string::npos) << urls.output;
}

// /F and /UF (and the platform forms) are one link: they move together and
// each keeps its encoding, or takes UTF-16 where its own lacks a character.
struct FormsCase {
  const char* name;
  std::u16string newPath;
  std::vector<std::string> readBack;
};

TEST(PdfContent, TheFormsOfOneFileDictionaryMoveTogether) {
  const std::string pdf = OnePagePdf(
      "", "4 0 R 6 0 R",
      {LinkAnnotation("<< /S /GoToR /F 5 0 R /D [0 /Fit] >>"),
       "<< /Type /Filespec /F (/C/Data/plan.pdf) /UF <FEFF002F0043002F0044006100740061002F0070006C"
       "0061006E002E007000640066> >>",
       LinkAnnotation("<< /S /GoToR /F (/C/Data/other.pdf) /D [0 /Fit] >>")});
  const FormsCase cases[] = {
      {"ascii",
       u"D:\\Data\\plan.pdf",
       {"\"/F\": \"u:/D/Data/plan.pdf\"", "\"/UF\": \"u:/D/Data/plan.pdf\""}},
      {"latin",
       FromUtf8(u8"D:\\Daten\\Übersicht.pdf"),
       {"\"/F\": " + JsonText("/D/Daten/Übersicht.pdf"),
        "\"/UF\": " + JsonText("/D/Daten/Übersicht.pdf")}},
      {"wide",
       FromUtf8(u8"\\\\srv2\\项目\\计划.pdf"),
       {"\"/F\": " + JsonText("//srv2/项目/计划.pdf"),
        "\"/UF\": " + JsonText("//srv2/项目/计划.pdf")}},
  };
  TempFolder folder;
  for (const FormsCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path original = folder / "forms.pdf";
    const fs::path updated = folder / (std::string(c.name) + ".pdf");
    WriteBytes(original, pdf);
    std::vector<std::string> readBack = c.readBack;
    readBack.push_back("\"/F\": \"u:/C/Data/other.pdf\"");
    ExpectRepointed(original, updated, {u"C:\\Data\\plan.pdf", u"C:\\Data\\other.pdf"}, 0,
                    c.newPath, readBack);
    // The /UF value was UTF-16 and stays so.
    const std::string after = ReadBytes(updated).substr(pdf.size());
    EXPECT_NE(after.find("/UF <feff"), std::string::npos) << after;
  }
}

struct RelativeCase {
  const char* name;
  std::string action;    // the annotation's action
  std::string oldPath;   // relative to the temporary folder, or a Windows path
  std::string newPath;   // likewise
  std::string readBack;  // qpdf's JSON text afterwards
};

TEST(PdfContent, RelativeAndAbsoluteFormsStayInTheirForm) {
  const RelativeCase cases[] = {
      {"relative-stays-relative", "<< /S /GoToR /F (../Data/plan.pdf) /D [0 /Fit] >>",
       "Data/plan.pdf", "Other/plan.pdf", "\"/F\": \"u:../Other/plan.pdf\""},
      {"relative-to-another-drive", "<< /S /GoToR /F (../Data/plan.pdf) /D [0 /Fit] >>",
       "Data/plan.pdf", "D:\\Data\\plan.pdf", "\"/F\": \"u:/D/Data/plan.pdf\""},
      {"relative-backslashes", "<< /S /Launch /F (sub\\\\tool.exe) >>", "docs/sub/tool.exe",
       "docs/bin/tool.exe", "\"/F\": " + JsonText("bin\\tool.exe")},
      {"relative-uri", "<< /S /URI /URI (../Data/plan%20b.docx) >>", "Data/plan b.docx",
       "Data/sub/plan c.docx", "\"/URI\": \"u:../Data/sub/plan%20c.docx\""},
      {"drive-with-colon", "<< /S /GoToR /F (/C:/Data/plan.pdf) /D [0 /Fit] >>",
       "C:\\Data\\plan.pdf", "D:\\Archive\\plan.pdf", "\"/F\": \"u:/D:/Archive/plan.pdf\""},
      {"one-slash-share", "<< /S /GoToR /F (/srv1/proj/plan.pdf) /D [0 /Fit] >>",
       "\\\\srv1\\proj\\plan.pdf", "\\\\srv2\\proj\\plan.pdf", "\"/F\": \"u:/srv2/proj/plan.pdf\""},
      {"windows-path", "<< /S /Launch /F (C:\\\\Data\\\\plan.docx) >>", "C:\\Data\\plan.docx",
       "\\\\srv2\\proj\\plan.docx", "\"/F\": " + JsonText("\\\\srv2\\proj\\plan.docx")},
      {"file-url-in-a-file-dictionary", "<< /S /Launch /F (file:///C:/Data/Q1 plan.docx) >>",
       "C:\\Data\\Q1 plan.docx", "D:\\Data\\Q1 plan.docx",
       "\"/F\": \"u:file:///D:/Data/Q1 plan.docx\""},
  };
  TempFolder folder;
  fs::create_directories(folder / "docs");
  const std::string root = folder.path().string();
  auto full = [&](const std::string& path) {
    return path.find('\\') != std::string::npos ? FromUtf8(path)
                                                : NativePathToText(root + "/" + path);
  };
  for (const RelativeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path original = folder / "docs" / (std::string(c.name) + ".pdf");
    const fs::path updated = folder / "docs" / (std::string(c.name) + "-new.pdf");
    WriteBytes(original, OnePagePdf("", "4 0 R", {LinkAnnotation(c.action)}));
    ExpectRepointed(original, updated, {full(c.oldPath)}, 0, full(c.newPath), {c.readBack});
  }
}

// A file whose last cross-reference section is a stream gets a stream in its
// update; a linearized file gets a table, as its last section is one.
struct XrefCase {
  const char* name;
  const char* qpdfOptions;  // how qpdf rewrites the hand-written file
  const char* expected;     // what the update's cross-reference section starts with
  const char* unexpected;
};

TEST(PdfContent, AnUpdateUsesTheCrossReferenceStyleOfTheFile) {
  const XrefCase cases[] = {
      {"object-streams", "--object-streams=generate", "/Type /XRef", "\nxref\n"},
      {"linearized", "--linearize", "\nxref\n", "/Type /XRef"},
  };
  TempFolder folder;
  const fs::path plain = folder / "plain.pdf";
  WriteBytes(plain, OnePagePdf("", "4 0 R",
                               {LinkAnnotation("<< /S /URI /URI (file:///C:/Data/a.pdf) >>")}));
  for (const XrefCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path original = folder / (std::string(c.name) + ".pdf");
    const fs::path first = folder / (std::string(c.name) + "-1.pdf");
    const fs::path second = folder / (std::string(c.name) + "-2.pdf");
    const CommandResult made = RunCommand(std::string("qpdf ") + c.qpdfOptions + " " +
                                          Quoted(plain) + " " + Quoted(original));
    ASSERT_EQ(made.status, 0) << made.output;

    LoadedPdf pdf = LoadPdf(original);
    ASSERT_EQ(pdf.links, std::vector<std::u16string>{u"C:\\Data\\a.pdf"});
    pdf.content->Repoint(0, u"D:\\Data\\a.pdf");
    WriteChangedTo(*pdf.content, first);
    ExpectSoundUpdate(original, first);
    const std::string update = ReadBytes(first).substr(ReadBytes(original).size());
    EXPECT_NE(update.find(c.expected), std::string::npos) << update;
    EXPECT_EQ(update.find(c.unexpected), std::string::npos) << update;

    // The server hands over the new file; a second move stacks a second update.
    DocumentFile written = DocumentFile::Open(NativePathToText(first.string()));
    pdf.content->Committed(written);
    EXPECT_EQ(pdf.content->AbsolutePath(0), u"D:\\Data\\a.pdf");
    EXPECT_FALSE(pdf.content->HasChanges());
    pdf.content->Repoint(0, u"E:\\Data\\a.pdf");
    WriteChangedTo(*pdf.content, second);
    ExpectSoundUpdate(first, second);
    EXPECT_EQ(LoadPdf(second).links, std::vector<std::u16string>{u"E:\\Data\\a.pdf"});
    if (HaveCommand("pdfinfo")) {
      const CommandResult urls = RunCommand("pdfinfo -url " + Quoted(second));
      EXPECT_NE(urls.output.find("file:///E:/Data/a.pdf"), std::string::npos) << urls.output;
      EXPECT_EQ(urls.output.find("file:///C:/"), std::string::npos) << urls.output;
    }
  }
}

TEST(PdfContent, RepointingBackToTheOldPathIsNoChange) {
  TempFolder folder;
  const fs::path file = folder / "back.pdf";
  WriteBytes(file, OnePagePdf("", "4 0 R",
                              {LinkAnnotation("<< /S /GoToR /F (/C/Data/a.pdf) /D [0 /Fit] >>")}));
  LoadedPdf pdf = LoadPdf(file);
  pdf.content->Repoint(0, u"D:\\a.pdf");
  EXPECT_TRUE(pdf.content->HasChanges());
  pdf.content->Repoint(0, u"C:\\Data\\a.pdf");
  EXPECT_FALSE(pdf.content->HasChanges());
}

// --- refusals: the file is listed, the change refused, nothing remembered

struct RefusalCase {
  const char* name;
  std::string pdf;
  std::string encryptWith;  // qpdf --encrypt user password; empty: not encrypted
  std::u16string newPath;
  std::int32_t number;
};

// pdf encrypted by qpdf with the user password (as the shell reads it), in file.
void WriteEncrypted(const fs::path& file, const std::string& pdf, const std::string& password) {
  const fs::path clear = file.parent_path() / "clear.pdf";
  WriteBytes(clear, pdf);
  const CommandResult r = RunCommand("qpdf --encrypt " + password + " owner 256 -- " +
                                     Quoted(clear) + " " + Quoted(file));
  ASSERT_EQ(r.status, 0) << r.output;
}

std::string LaunchAnnotation() { return LinkAnnotation("<< /S /Launch /F (/C/Data/plan.docx) >>"); }

TEST(PdfContent, RefusesChangesItCannotMakeSafely) {
  const std::string plain = OnePagePdf("", "4 0 R", {LaunchAnnotation()});
  const RefusalCase cases[] = {
      {"signature-field",
       OnePagePdf("/AcroForm << /Fields [5 0 R] /SigFlags 3 >>", "4 0 R",
                  {LaunchAnnotation(),
                   "<< /FT /Sig /T (sig) /V << /Type /Sig /Filter /Adobe.PPKLite /ByteRange [0 10 "
                   "20 30] /Contents <00> >> >>"}),
       "", u"D:\\Data\\plan.docx", error_number::kSignedDocument},
      {"certified",
       OnePagePdf("/Perms << /DocMDP 5 0 R >>", "4 0 R",
                  {LaunchAnnotation(), "<< /Type /Sig /ByteRange [0 1 2 3] >>"}),
       "", u"D:\\Data\\plan.docx", error_number::kSignedDocument},
      {"encrypted-open", plain, "''", u"D:\\Data\\plan.docx", error_number::kEncryptedPdf},
      {"path-that-does-not-read-back", plain, "", u"relative\\plan.docx",
       error_number::kUnwritablePath},
      {"empty-path", plain, "", u"", error_number::kInvalidArgument},
  };
  TempFolder folder;
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = folder / (std::string(c.name) + ".pdf");
    WriteBytes(file, c.pdf);
    if (!c.encryptWith.empty()) WriteEncrypted(file, c.pdf, c.encryptWith);
    const std::string before = ReadBytes(file);
    LoadedPdf pdf = LoadPdf(file);
    ASSERT_EQ(pdf.links, std::vector<std::u16string>{u"C:\\Data\\plan.docx"});
    EXPECT_TRUE(FailsNaming(c.number, NativePathToText(file.string()),
                            [&] { pdf.content->Repoint(0, c.newPath); }));
    EXPECT_FALSE(pdf.content->HasChanges());
    EXPECT_EQ(pdf.content->AbsolutePath(0), u"C:\\Data\\plan.docx");
    EXPECT_EQ(ReadBytes(file), before);
  }
}

// --- damaged files fail with a clear error, and qpdf says nothing on stderr

struct DamagedCase {
  const char* name;
  std::string bytes;
  std::int32_t loadNumber;     // 0: loads
  std::int32_t repointNumber;  // when it loads and lists a link
};

TEST(PdfContent, DamagedFilesFailCleanly) {
  const std::string good = OnePagePdf("", "4 0 R", {LaunchAnnotation()});
  std::string shifted = good;  // every offset in the table now misses its object by one byte
  shifted.insert(shifted.find("1 0 obj"), " ");
  std::string brokenObject = good;  // the annotation's dictionary never closes
  brokenObject.replace(brokenObject.find("/Border"), 7, "<< << <<");
  const DamagedCase cases[] = {
      {"empty", "", error_number::kDamagedPdf, 0},
      {"not-a-pdf", "PK\x03\x04 this is no PDF at all\n", error_number::kDamagedPdf, 0},
      {"cut-in-half", good.substr(0, good.size() / 2), error_number::kDamagedPdf, 0},
      {"offsets-off-by-one", shifted, 0, error_number::kUnchangeablePdf},
      {"encrypted-with-password", "", error_number::kEncryptedPdf, 0},
      {"broken-annotation", brokenObject, error_number::kDamagedPdf, 0},
  };
  TempFolder folder;
  for (const DamagedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = folder / (std::string(c.name) + ".pdf");
    WriteBytes(file, c.bytes);
    if (std::string(c.name) == "encrypted-with-password") WriteEncrypted(file, good, "secret");
    const std::string before = ReadBytes(file);
    std::int32_t loadNumber = 0, repointNumber = 0;
    std::u16string description;
    const std::string stderrText = CaptureStderr([&] {
      try {
        LoadedPdf pdf = LoadPdf(file);
        for (std::size_t i = 0; i < pdf.links.size(); ++i) {
          try {
            pdf.content->Repoint(i, u"D:\\x.docx");
          } catch (const ServiceError& e) {
            repointNumber = e.number();
            description = e.description();
          }
        }
      } catch (const ServiceError& e) {
        loadNumber = e.number();
        description = e.description();
      }
    });
    EXPECT_EQ(loadNumber, c.loadNumber) << Utf8(description);
    EXPECT_EQ(repointNumber, c.repointNumber) << Utf8(description);
    EXPECT_NE(description.find(NativePathToText(file.string())), std::u16string::npos);
    EXPECT_EQ(stderrText, "");
    EXPECT_EQ(ReadBytes(file), before);
  }
}

}  // namespace
}  // namespace quavelle::docserver::testing
