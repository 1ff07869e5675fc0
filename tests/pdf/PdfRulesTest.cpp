// The pure rules: which PDF strings name files, how a new path is written in
// the form found, how string bytes map to text, and the appended update's layout.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "services/Text.h"
#include "services/docserver/PdfFileName.h"
#include "services/docserver/PdfText.h"
#include "services/docserver/PdfUpdate.h"

namespace quavelle::docserver {
namespace {

constexpr PdfNameSyntax kSpec = PdfNameSyntax::FileName;
constexpr PdfNameSyntax kUri = PdfNameSyntax::Uri;

struct ReadCase {
  const char* text;
  PdfNameSyntax syntax;
  const char16_t* folder;
  const char16_t* expected;  // nullptr: names no file
};

TEST(PdfFileName, ReadsEachFormAsAFullPath) {
  const ReadCase cases[] = {
      // slash syntax: the first component is the drive, or the server
      {"/C/Data/plan.docx", kSpec, u"/home/u/docs", u"C:\\Data\\plan.docx"},
      {"/C:/Data/plan.docx", kSpec, u"/home/u/docs", u"C:\\Data\\plan.docx"},
      {"//srv1/proj/plan.docx", kSpec, u"/home/u/docs", u"\\\\srv1\\proj\\plan.docx"},
      {"/srv1/proj/plan.docx", kSpec, u"/home/u/docs", u"\\\\srv1\\proj\\plan.docx"},
      // relative, against the PDF's folder; ".." stops at the root
      {"plan.docx", kSpec, u"/home/u/docs", u"/home/u/docs/plan.docx"},
      {"../Data/./plan.docx", kSpec, u"/home/u/docs", u"/home/u/Data/plan.docx"},
      {"../../../../x.docx", kSpec, u"/home/u/docs", u"/x.docx"},
      {"../x.docx", kSpec, u"\\\\srv1\\proj\\docs", u"\\\\srv1\\proj\\x.docx"},
      {"plan.docx", kSpec, u"C:\\Users\\u", u"C:\\Users\\u\\plan.docx"},
      // Windows paths as some producers write them
      {"C:\\Data\\plan.docx", kSpec, u"/home/u", u"C:\\Data\\plan.docx"},
      {"C:/Data/plan.docx", kSpec, u"/home/u", u"C:\\Data\\plan.docx"},
      {"\\\\srv1\\proj\\plan.docx", kSpec, u"/home/u", u"\\\\srv1\\proj\\plan.docx"},
      {"..\\Data\\plan.docx", kSpec, u"/home/u/docs", u"/home/u/Data/plan.docx"},
      // file URLs, escapes decoded
      {"file:///C:/Data/Q1%20plan.docx", kSpec, u"/home/u", u"C:\\Data\\Q1 plan.docx"},
      {"file://srv1/proj/report.pdf", kSpec, u"/home/u", u"\\\\srv1\\proj\\report.pdf"},
      {"file:///C:/Data/Q1%20plan.docx", kUri, u"/home/u", u"C:\\Data\\Q1 plan.docx"},
      {"plan%20b.docx", kUri, u"/home/u/docs", u"/home/u/docs/plan b.docx"},
      // no file
      {"http://example.org/x.pdf", kSpec, u"/home/u", nullptr},
      {"mailto:someone@example.org", kSpec, u"/home/u", nullptr},
      {"https://example.org/x.pdf", kUri, u"/home/u", nullptr},
      {"", kSpec, u"/home/u", nullptr},
      {"C:plan.docx", kSpec, u"/home/u", nullptr},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<PdfPath> path =
        ReadPdfPath(FromUtf8(std::string_view(c.text)), c.syntax, c.folder);
    if (c.expected == nullptr) {
      EXPECT_FALSE(path.has_value());
    } else {
      ASSERT_TRUE(path.has_value());
      EXPECT_EQ(ToUtf8(path->absolutePath), ToUtf8(c.expected));
    }
  }
}

struct WriteCase {
  const char* found;
  PdfNameSyntax syntax;
  const char16_t* folder;
  const char16_t* newPath;
  const char* expected;
};

TEST(PdfFileName, WritesANewPathInTheFormFound) {
  const WriteCase cases[] = {
      {"/C/Data/plan.docx", kSpec, u"/h", u"D:\\Archive\\plan.docx", "/D/Archive/plan.docx"},
      {"/C:/Data/plan.docx", kSpec, u"/h", u"D:\\A\\p.docx", "/D:/A/p.docx"},
      {"/C/Data/plan.docx", kSpec, u"/h", u"\\\\srv2\\proj\\plan.docx", "//srv2/proj/plan.docx"},
      {"//srv1/proj/plan.docx", kSpec, u"/h", u"D:\\Data\\plan.docx", "/D/Data/plan.docx"},
      {"/srv1/proj/plan.docx", kSpec, u"/h", u"\\\\srv2\\proj\\plan.docx", "/srv2/proj/plan.docx"},
      // relative stays relative below the same root, else the form's absolute spelling
      {"../Data/plan.docx", kSpec, u"/home/u/docs", u"/home/u/Other/plan.docx",
       "../Other/plan.docx"},
      {"../Data/plan.docx", kSpec, u"/home/u/docs", u"D:\\x.docx", "/D/x.docx"},
      {"..\\Data\\plan.docx", kSpec, u"/home/u/docs", u"/home/u/docs/sub/x.docx", "sub\\x.docx"},
      {"../a.docx", kSpec, u"C:\\Users\\u", u"c:\\users\\b.docx", "../b.docx"},
      // Windows paths keep their separator
      {"C:\\Data\\plan.docx", kSpec, u"/h", u"\\\\srv2\\p\\plan.docx", "\\\\srv2\\p\\plan.docx"},
      {"C:/Data/plan.docx", kSpec, u"/h", u"D:\\Data\\plan.docx", "D:/Data/plan.docx"},
      // file URLs keep their style and escape what they must
      {"file:///C:/Data/plan.docx", kSpec, u"/h", u"D:\\Data\\Q1 plan.docx",
       "file:///D:/Data/Q1%20plan.docx"},
      {"file://srv1/proj/r.pdf", kUri, u"/h", u"\\\\srv2\\proj\\r.pdf", "file://srv2/proj/r.pdf"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(std::string(c.found) + " -> " + ToUtf8(c.newPath));
    std::optional<PdfPath> path =
        ReadPdfPath(FromUtf8(std::string_view(c.found)), c.syntax, c.folder);
    ASSERT_TRUE(path.has_value());
    const std::u16string written = WritePdfPath(*path, c.newPath, c.folder);
    EXPECT_EQ(ToUtf8(written), c.expected);
    std::optional<PdfPath> back = ReadPdfPath(written, c.syntax, c.folder);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->form, path->form);
  }
}

struct TextCase {
  std::string bytes;
  PdfTextEncoding encoding;
  const char* text;  // UTF-8
};

TEST(PdfText, DecodesEachEncodingAndWritesTextBackInIt) {
  const TextCase cases[] = {
      {"C:\\Data\\plan.docx", PdfTextEncoding::PdfDoc, "C:\\Data\\plan.docx"},
      {"/C/\xFC"
       "ber.docx",
       PdfTextEncoding::PdfDoc,
       "/C/\xC3\xBC"
       "ber.docx"},
      {std::string("\xFE\xFF\x00/\x00"
                   "C\x8B\xA1",
                   8),
       PdfTextEncoding::Utf16, "/C\xE8\xAE\xA1"},
      {"\xEF\xBB\xBF/C/\xC3\xBC", PdfTextEncoding::Utf8Bom, "/C/\xC3\xBC"},
      {"file:///C:/Q1 plan \xC3\xBC.docx", PdfTextEncoding::Utf8,
       "file:///C:/Q1 plan \xC3\xBC.docx"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.text);
    const PdfText decoded = DecodePdfText(c.bytes);
    EXPECT_EQ(decoded.encoding, c.encoding);
    EXPECT_EQ(ToUtf8(decoded.text), c.text);
    EXPECT_EQ(EncodePdfText(decoded.text, decoded.encoding), c.bytes);
  }
}

TEST(PdfUpdate, FindsTheLastStartXref) {
  const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
      {"trailer\n<<>>\nstartxref\n123\n%%EOF\n", 123},
      {"startxref\n5\n%%EOF\nstartxref\r\n77\r\n%%EOF", 77},
      {"xref\n0 1\n", std::nullopt},
      {"startxref\n%%EOF\n", std::nullopt},
      {"startxref\n99999999999999999999999\n", std::nullopt},
  };
  for (const auto& [tail, expected] : cases) {
    SCOPED_TRACE(tail);
    EXPECT_EQ(LastStartXref(tail), expected);
  }
}

TEST(PdfUpdate, ATableUpdateListsRunsOfObjectsAtTheirOffsets) {
  PdfUpdateTrailer trailer;
  trailer.size = 9;
  trailer.previous = 500;
  trailer.root = "1 0 R";
  trailer.id = "[<AA> <BB>]";
  const std::string update =
      BuildPdfUpdate({{7, 0, "<< /C 3 >>"}, {3, 0, "<< /A 1 >>"}, {4, 2, "<< /B 2 >>"}}, trailer,
                     PdfXrefStyle::Table, 1000, false);
  // Objects in number order after a line end, each at the offset its entry gives.
  const std::string objects =
      "\n3 0 obj\n<< /A 1 >>\nendobj\n4 2 obj\n<< /B 2 >>\nendobj\n7 0 obj\n<< /C 3 >>\nendobj\n";
  ASSERT_TRUE(update.starts_with(objects));
  const std::string rest = update.substr(objects.size());
  EXPECT_EQ(rest,
            "xref\n3 2\n0000001001 00000 n\r\n0000001027 00002 n\r\n7 1\n0000001053 00000 n\r\n"
            "trailer\n<< /Size 9 /Root 1 0 R /ID [<AA> <BB>] /Prev 500 >>\n"
            "startxref\n" +
                std::to_string(1000 + objects.size()) + "\n%%EOF\n");
}

TEST(PdfUpdate, AStreamUpdateListsItselfAsTheNextObject) {
  PdfUpdateTrailer trailer;
  trailer.size = 300;
  trailer.previous = 70000;
  trailer.root = "1 0 R";
  const std::string update =
      BuildPdfUpdate({{5, 0, "<< >>"}}, trailer, PdfXrefStyle::Stream, 70000, true);
  EXPECT_TRUE(update.starts_with("5 0 obj\n<< >>\nendobj\n300 0 obj\n<< /Type /XRef /Size 301 "));
  // Type 1 entries: a 3-byte offset (70000, then 70021 where the stream starts), generation 0.
  static constexpr char kEntries[] =
      "/Prev 70000 /Index [5 1 300 1] /W [1 3 2] /Length 12 >>\nstream\n"
      "\x01\x01\x11\x70\x00\x00\x01\x01\x11\x85\x00\x00\nendstream";
  EXPECT_NE(update.find(std::string(kEntries, sizeof kEntries - 1)), std::string::npos);
}

}  // namespace
}  // namespace quavelle::docserver
