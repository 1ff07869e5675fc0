#include "services/docserver/InternetShortcut.h"
#include "services/docserver/Utf7.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "CaughtError.h"
#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle::docserver {
namespace {

using quavelle::testing::ErrorNumber;

const std::u16string kDoc = u"/shares/links/plan.url";

std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::vector<std::string> Listed(const InternetShortcut& shortcut) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < shortcut.size(); ++i) paths.push_back(ToUtf8(shortcut.target(i)));
  return paths;
}

struct UrlCase {
  const char* name;
  std::string before;
  std::vector<std::string> listed;
  std::size_t index;
  std::u16string newPath;
  std::string after;  // the whole file, byte for byte
};
void PrintTo(const UrlCase& c, std::ostream* out) { *out << c.name; }

class InternetShortcuts : public ::testing::TestWithParam<UrlCase> {};

TEST_P(InternetShortcuts, ListAndRewriteOnlyTheValue) {
  const UrlCase& c = GetParam();
  const InternetShortcut shortcut = InternetShortcut::Parse(c.before, kDoc);
  EXPECT_EQ(Listed(shortcut), c.listed);
  if (c.listed.empty()) return;
  const std::string after = shortcut.Repointed(c.index, c.newPath);
  EXPECT_EQ(after, c.after);
  EXPECT_EQ(ToUtf8(InternetShortcut::Parse(after, kDoc).target(c.index)), ToUtf8(c.newPath));
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, InternetShortcuts,
    ::testing::Values(
        UrlCase{"CodePageCrLf",
                "[InternetShortcut]\r\nURL=file:///C:/Data/plan%20A.pdf\r\nComment=caf\xE9\r\n"
                "IconIndex=0\r\nIconFile=\\\\srv1\\proj\\icons\\a.ico\r\n",
                {"C:\\Data\\plan A.pdf", "\\\\srv1\\proj\\icons\\a.ico"},
                0,
                u"D:\\Archiv\\plan A.pdf",
                "[InternetShortcut]\r\nURL=file:///D:/Archiv/plan%20A.pdf\r\nComment=caf\xE9\r\n"
                "IconIndex=0\r\nIconFile=\\\\srv1\\proj\\icons\\a.ico\r\n"},
        UrlCase{"CodePageIconWithAccent",
                "[InternetShortcut]\r\nURL=https://example.org/\r\nIconFile=C:\\Data\\a.ico\r\n",
                {"C:\\Data\\a.ico"},
                0,
                u"\\\\srv2\\Pl\u00e4ne\\a.ico",
                "[InternetShortcut]\r\nURL=https://example.org/\r\n"
                "IconFile=\\\\srv2\\Pl\xE4ne\\a.ico\r\n"},
        UrlCase{"Utf8MarkLf",
                "\xEF\xBB\xBF[InternetShortcut]\nURL=file://srv1/proj/a.pdf\n"
                "IconFile=\\\\srv1\\proj\\\xC3\x9C"
                "bersicht.ico\n",
                {"\\\\srv1\\proj\\a.pdf",
                 "\\\\srv1\\proj\\\xC3\x9C"
                 "bersicht.ico"},
                1,
                u"\\\\srv2\\proj\\\u00dcbersicht \u8a08\u753b.ico",
                "\xEF\xBB\xBF[InternetShortcut]\nURL=file://srv1/proj/a.pdf\n"
                "IconFile=\\\\srv2\\proj\\\xC3\x9C"
                "bersicht \xE8\xA8\x88\xE7\x94\xBB.ico\n"},
        UrlCase{"Utf16Mark",
                Utf16File(u"[InternetShortcut]\r\nURL=file:///C:/Data/a.pdf\r\nIconIndex=1\r\n"),
                {"C:\\Data\\a.pdf"},
                0,
                u"E:\\\u8a08\u753b\\a.pdf",
                Utf16File(u"[InternetShortcut]\r\nURL=file:///E:/\u8a08\u753b/a.pdf\r\n"
                          u"IconIndex=1\r\n")},
        UrlCase{"SpacesAndLastLineWithoutBreak",
                "[internetshortcut]\r\n  url = file:///C:/Data/a.pdf  \r\nIconFile=x.ico",
                {"C:\\Data\\a.pdf"},
                0,
                u"C:\\Neu\\a.pdf",
                "[internetshortcut]\r\n  url = file:///C:/Neu/a.pdf  \r\nIconFile=x.ico"},
        UrlCase{"MixedLineEndings",
                "[InternetShortcut]\rURL=file:///C:/a.pdf\n\r\nIconFile=C:\\b.ico\r",
                {"C:\\a.pdf", "C:\\b.ico"},
                1,
                u"\\\\srv2\\share\\b.ico",
                "[InternetShortcut]\rURL=file:///C:/a.pdf\n\r\nIconFile=\\\\srv2\\share\\b.ico\r"},
        UrlCase{
            "EightBitAndUtf7Copies",
            "[InternetShortcut]\r\nURL=file:///C:/Data/plan.pdf\r\n[InternetShortcut.A]\r\n"
            "URL=file:///C:/Data/plan.pdf\r\n[InternetShortcut.W]\r\n"
            "URL=file:///C:/Data/plan.pdf\r\n",
            {"C:\\Data\\plan.pdf"},
            0,
            u"D:\\Pl\u00e4ne\\plan+.pdf",
            "[InternetShortcut]\r\nURL=file:///D:/Pl\xE4ne/plan+.pdf\r\n[InternetShortcut.A]\r\n"
            "URL=file:///D:/Pl\xE4ne/plan+.pdf\r\n[InternetShortcut.W]\r\n"
            "URL=file:///D:/Pl+AOQ-ne/plan+-.pdf\r\n"},
        UrlCase{"OnlyTheUtf7Copy",
                "[InternetShortcut.W]\nURL=file:///C:/+AOQ-.pdf\nIconFile=C:+AFw-a.ico\n",
                {"C:\\\xC3\xA4.pdf", "C:\\a.ico"},
                1,
                u"\\\\srv2\\share\\b.ico",
                "[InternetShortcut.W]\nURL=file:///C:/"
                "+AOQ-.pdf\nIconFile=+AFwAXA-srv2+AFw-share+AFw-b.ico\n"},
        UrlCase{"OtherSectionsAndWebAddresses",
                "[DEFAULT]\r\nBASEURL=file:///C:/base.htm\r\n[InternetShortcut]\r\n"
                "URL=https://intranet/plan\r\nIconFile=https://intranet/favicon.ico\r\n"
                "[Other]\r\nURL=file:///C:/other.pdf\r\n",
                {},
                0,
                u"",
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InternetShortcutTest, RefusesWhatCannotBeWritten) {
  const InternetShortcut codePage = InternetShortcut::Parse(
      "[InternetShortcut]\r\nURL=file:///C:/Data/a.pdf\r\nIconFile=C:\\a.ico\r\n", kDoc);
  struct Refusal {
    std::size_t index;
    std::u16string newPath;
  };
  for (const Refusal& r : {Refusal{1, u"C:\\\u8a08\u753b.ico"}, Refusal{0, u"Data\\a.pdf"},
                           Refusal{0, u"/srv/a.pdf"}, Refusal{1, u"C:\\a\r\nURL=x"}}) {
    EXPECT_EQ(ErrorNumber([&] { codePage.Repointed(r.index, r.newPath); }), 1009)
        << ToUtf8(r.newPath);
  }
}

TEST(InternetShortcutTest, Utf7BothWays) {
  struct Utf7Case {
    std::u16string text;
    std::string written;
    std::vector<std::string> alsoRead;  // other well-formed spellings
  };
  for (const Utf7Case& c : std::vector<Utf7Case>{
           {u"Hi Mom -\u263a-!", "Hi Mom -+Jjo--!", {}},
           {u"\u65e5\u672c\u8a9e", "+ZeVnLIqe-", {"+ZeVnLIqe"}},
           {u"A\u2262\u0391.", "A+ImIDkQ-.", {"A+ImIDkQ."}},
           {u"1+1=2", "1+-1=2", {}},
           {u"C:\\a~b", "C:+AFw-a+AH4-b", {}},
       }) {
    EXPECT_EQ(EncodeUtf7(c.text), c.written);
    EXPECT_EQ(DecodeUtf7(c.written), c.text) << c.written;
    for (const std::string& other : c.alsoRead) EXPECT_EQ(DecodeUtf7(other), c.text) << other;
  }
  for (const char* bad : {"+AGF", "caf\xE9"}) EXPECT_EQ(DecodeUtf7(bad), std::nullopt) << bad;
}

TEST(InternetShortcutTest, OddUtf16IsDamaged) {
  std::string bytes = Utf16File(u"[InternetShortcut]\r\nURL=file:///C:/a.pdf\r\n");
  bytes.push_back('\0');
  EXPECT_EQ(ErrorNumber([&] { InternetShortcut::Parse(bytes, kDoc); }), 1003);
}

}  // namespace
}  // namespace quavelle::docserver
