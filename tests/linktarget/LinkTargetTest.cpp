#include "services/docserver/LinkTarget.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

std::string Show(std::u16string_view text) { return ToUtf8(text); }

TargetContext Ooxml(std::u16string base) {
  return {TargetSyntax::OfficeOpenXml, std::move(base), u""};
}
TargetContext Odf(std::u16string base, std::u16string package) {
  return {TargetSyntax::OpenDocument, std::move(base), std::move(package)};
}

// The places a document lives in: a drive folder, a share folder, a POSIX
// folder, an OpenDocument package on POSIX and on a drive.
const TargetContext kDocs = Ooxml(u"C:\\docs");
const TargetContext kShare = Ooxml(u"\\\\srv\\share\\docs");
const TargetContext kHome = Ooxml(u"/home/u");
const TargetContext kPkg = Odf(u"/d/a.odt", u"/d/a.odt");
const TargetContext kWinPkg = Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt");
const TargetContext kSubDoc = Odf(u"/d/a.odt/Object 1", u"/d/a.odt");

constexpr auto kUrl = TargetForm::FileUrl;
constexpr auto kPlain = TargetForm::PlainPath;
constexpr auto kRel = TargetForm::RelativePath;
constexpr std::nullopt_t kNoLink = std::nullopt;

struct ReadCase {
  TargetContext context;
  std::u16string stored;
  std::optional<std::u16string> absolutePath;  // nullopt: not a link
  TargetForm form = kUrl;
  std::u16string suffix = u"";
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << Show(c.stored); }

class ReadsStoredReference : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadsStoredReference, GivesPathSuffixAndForm) {
  const ReadCase& c = GetParam();
  const std::optional<LinkTarget> target = ParseLinkTarget(c.stored, c.context);
  if (!c.absolutePath) {
    EXPECT_FALSE(target) << Show(target->absolutePath);
    return;
  }
  ASSERT_TRUE(target);
  EXPECT_EQ(Show(target->absolutePath), Show(*c.absolutePath));
  EXPECT_EQ(Show(target->suffix), Show(c.suffix));
  EXPECT_EQ(target->form, c.form);
  EXPECT_EQ(target->stored, c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadsStoredReference,
    testing::Values(
        // Drive, share and POSIX paths in every written form.
        ReadCase{kDocs, u"file:///C:/Data/plan.doc", u"C:\\Data\\plan.doc"},
        ReadCase{kDocs, u"file:///C:\\Data\\plan.doc", u"C:\\Data\\plan.doc"},
        ReadCase{kDocs, u"file://srv1/proj/a.doc", u"\\\\srv1\\proj\\a.doc"},
        ReadCase{kDocs, u"file:///\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj\\a.doc"},
        ReadCase{kPkg, u"file:////srv2/proj/a.docx", u"\\\\srv2\\proj\\a.docx"},
        ReadCase{kPkg, u"file://localhost/C:/x.doc", u"C:\\x.doc"},
        ReadCase{kDocs, u"FILE:///c|/x.doc", u"c:\\x.doc"},
        ReadCase{kPkg, u"file:///home/u/x%20y.odt", u"/home/u/x y.odt"},
        ReadCase{kPkg, u"file:///home/u/a%5Cb.odt", u"/home/u/a\\b.odt"},
        ReadCase{kDocs, u"C:\\Data\\plan.doc", u"C:\\Data\\plan.doc", kPlain},
        ReadCase{kDocs, u"c:/Data\\sub/plan.doc", u"c:\\Data\\sub\\plan.doc", kPlain},
        ReadCase{kDocs, u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj\\a.doc", kPlain},
        ReadCase{kHome, u"//srv1/proj/a.doc", u"\\\\srv1\\proj\\a.doc", kPlain},
        // A network-path reference is a file on a share in OpenDocument, read like
        // a file URL; with no share and name below the host it is a web address.
        ReadCase{kPkg, u"//server/share/dir%20x/a.ods", u"\\\\server\\share\\dir x\\a.ods"},
        ReadCase{kPkg, u"//nas.corp.example/share/a.ods#Sheet1",
                 u"\\\\nas.corp.example\\share\\a.ods", kUrl, u"#Sheet1"},
        ReadCase{kPkg, u"//upload.example.org/img.png", kNoLink},
        ReadCase{kDocs, u"//upload.example.org/img.png", kNoLink},
        ReadCase{kPkg, u"//upload.example.org", kNoLink},
        ReadCase{kPkg, u"//cdn.example.org:8080/a/b.png", kNoLink},
        ReadCase{kPkg, u"//user@host/a/b.png", kNoLink},
        ReadCase{kPkg, u"//host/a/b.png?size=2", kNoLink},
        // A server without a share names no file; a device path's root holds its share.
        ReadCase{kDocs, u"\\\\srv", kNoLink}, ReadCase{kDocs, u"file://srv", kNoLink},
        ReadCase{kDocs, u"file:///\\\\srv\\", kNoLink},
        ReadCase{kDocs, u"\\\\?\\UNC\\srv\\share\\x.doc", u"\\\\?\\UNC\\srv\\share\\x.doc", kPlain},
        ReadCase{Ooxml(u"\\\\?\\UNC\\srv\\share\\docs"), u"../../../x.doc",
                 u"\\\\?\\UNC\\srv\\share\\x.doc", kRel},
        ReadCase{Ooxml(u"\\\\?\\C:\\docs"), u"../../x.doc", u"\\\\?\\C:\\x.doc", kRel},
        // Escapes: UTF-8 decoded, ill-formed ones kept, plain OS paths taken literally.
        ReadCase{kPkg, u"file:///C:/Data/%C3%BCber%20plan.odt", u"C:\\Data\\über plan.odt"},
        ReadCase{kDocs, u"file:///D:\\微信文件\\WeChat%20Files\\样.xlsx",
                 u"D:\\微信文件\\WeChat Files\\样.xlsx"},
        ReadCase{kDocs, u"file:///C:/a%FF%41.doc", u"C:\\a%FFA.doc"},
        ReadCase{kDocs, u"file:///C:/a%4", u"C:\\a%4"},
        ReadCase{kDocs, u"C:\\100%20.doc", u"C:\\100%20.doc", kPlain},
        ReadCase{kPkg, u"../a%5Cb/../c.odt", u"/d/c.odt", kRel},
        // Suffixes: '#' and '?' in URLs; "!item" and "#" after an extension in
        // Office Open XML; escaped characters never start one.
        ReadCase{kDocs, u"file:///C:/a%23b.doc#Top", u"C:\\a#b.doc", kUrl, u"#Top"},
        ReadCase{kDocs, u"file:///C:/old/d.xlsx!Tables!R1C1:R5C5", u"C:\\old\\d.xlsx", kUrl,
                 u"!Tables!R1C1:R5C5"},
        ReadCase{kDocs, u"C:\\Fun!\\v1.2!\\d.xlsx!Sheet1", u"C:\\Fun!\\v1.2!\\d.xlsx", kPlain,
                 u"!Sheet1"},
        ReadCase{kDocs, u"C:\\Wow!Great.xlsx", u"C:\\Wow!Great.xlsx", kPlain},
        ReadCase{kDocs, u"C:\\Data\\plan.xlsx#Sheet1", u"C:\\Data\\plan.xlsx", kPlain, u"#Sheet1"},
        ReadCase{kDocs, u"C:\\C# Projects\\notes#1.docx", u"C:\\C# Projects\\notes#1.docx", kPlain},
        ReadCase{kDocs, u"C:\\report.final#2.docx", u"C:\\report.final#2.docx", kPlain},
        ReadCase{kDocs, u"file:///C:/plan.xlsx#Sheet1!A1", u"C:\\plan.xlsx", kUrl, u"#Sheet1!A1"},
        ReadCase{kPkg, u"file:///C:/Data/notes#1.odt", u"C:\\Data\\notes", kUrl, u"#1.odt"},
        ReadCase{kPkg, u"file:///C:/Data/plan.ods!Sheet1", u"C:\\Data\\plan.ods!Sheet1"},
        ReadCase{kPkg, u"../x.ods#Sheet1.A1", u"/d/x.ods", kRel, u"#Sheet1.A1"},
        ReadCase{kDocs, u"file:///C:/Data/plan%2Exlsx!Sheet1", u"C:\\Data\\plan.xlsx", kUrl,
                 u"!Sheet1"},
        ReadCase{kDocs, u"data.x%6Csx!Sheet1", u"C:\\docs\\data.xlsx", kRel, u"!Sheet1"},
        ReadCase{kDocs, u"plan%2exlsx#Sheet1", u"C:\\docs\\plan.xlsx", kRel, u"#Sheet1"},
        ReadCase{kDocs, u"file:///C:/a.xlsx%21b", u"C:\\a.xlsx!b"},
        ReadCase{kDocs, u"file:///C:/a%2F.xlsx!b", u"C:\\a\\.xlsx!b"},
        // Relative references, in the base's style; ".." stops at the root.
        ReadCase{kDocs, u"data.xlsx", u"C:\\docs\\data.xlsx", kRel},
        ReadCase{kHome, u"../Data/rel%20doc.docx", u"/home/Data/rel doc.docx", kRel},
        ReadCase{Ooxml(u"\\\\srv\\share\\docs\\sub"), u"..\\Data\\x.xlsx",
                 u"\\\\srv\\share\\docs\\Data\\x.xlsx", kRel},
        ReadCase{Ooxml(u"C:/docs/"), u"./a/./b.doc", u"C:\\docs\\a\\b.doc", kRel},
        ReadCase{kDocs, u"../../../x.doc", u"C:\\x.doc", kRel},
        ReadCase{Ooxml(u"\\\\srv\\share\\a"), u"..\\..\\..\\x.doc", u"\\\\srv\\share\\x.doc", kRel},
        ReadCase{Ooxml(u"/home"), u"../../x.doc", u"/x.doc", kRel},
        ReadCase{Ooxml(u"C:\\docs\\deep"), u"/contratacion/GM%201T.xlsx",
                 u"C:\\contratacion\\GM 1T.xlsx", kRel},
        ReadCase{kShare, u"/x/y.xlsx", u"\\\\srv\\share\\x\\y.xlsx", kRel},
        ReadCase{kHome, u"/srv/y.xlsx", u"/srv/y.xlsx", kPlain},
        // OpenDocument counts from the package as if it were a folder.
        ReadCase{kPkg, u"../x.odt", u"/d/x.odt", kRel},
        ReadCase{kSubDoc, u"../../x.odt", u"/d/x.odt", kRel},
        ReadCase{kWinPkg, u"../x.odt", u"C:\\d\\x.odt", kRel},
        ReadCase{kWinPkg, u"../A.ODT2/x.png", u"C:\\d\\A.ODT2\\x.png", kRel},
        ReadCase{Odf(u"/d", u""), u"Pictures/x.png", u"/d/Pictures/x.png", kRel},
        // Not links to another file.
        ReadCase{kDocs, u"http://example.org/a.doc", kNoLink},
        ReadCase{kDocs, u"HTTPS://example.org", kNoLink}, ReadCase{kPkg, u"ftp://h/a.odt", kNoLink},
        ReadCase{kDocs, u"mailto:a@b.c", kNoLink},
        ReadCase{kPkg, u"vnd.sun.star.script:Lib.Mod.Main?language=Basic", kNoLink},
        ReadCase{kPkg, u".uno:Open", kNoLink},
        ReadCase{kPkg, u"macro:///Standard.Module1.Main", kNoLink},
        ReadCase{kDocs, u"ppaction://hlinkshowjump", kNoLink}, ReadCase{kPkg, u"#Top", kNoLink},
        ReadCase{kDocs, u"#Sheet1!A1", kNoLink}, ReadCase{kDocs, u"", kNoLink},
        ReadCase{kDocs, u"file:x.doc", kNoLink}, ReadCase{kDocs, u"file://", kNoLink},
        ReadCase{kPkg, u"Pictures/1000.png", kNoLink}, ReadCase{kPkg, u"./Object 1", kNoLink},
        ReadCase{kPkg, u"Object%201/", kNoLink},
        ReadCase{kPkg, u"./ObjectReplacements/Object 1", kNoLink},
        ReadCase{kSubDoc, u"../Pictures/x.png", kNoLink},
        ReadCase{kWinPkg, u"../A.ODT/Pictures/x.png", kNoLink}));

struct WriteCase {
  TargetContext context;
  std::u16string stored;
  std::u16string newPath;
  std::u16string expected;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << Show(c.stored) << " -> " << Show(c.newPath);
}

class WritesNewPath : public testing::TestWithParam<WriteCase> {};

TEST_P(WritesNewPath, InTheFormFound) {
  const WriteCase& c = GetParam();
  const std::optional<LinkTarget> target = ParseLinkTarget(c.stored, c.context);
  ASSERT_TRUE(target);
  EXPECT_EQ(Show(FormatLinkTarget(*target, c.newPath, c.context)), Show(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WritesNewPath,
    testing::Values(
        // An unchanged path gives back the stored text exactly; no path gives nothing.
        WriteCase{kDocs, u"file:///C:\\Data/Mixed%20x.doc!Sheet1", u"C:\\Data\\Mixed x.doc",
                  u"file:///C:\\Data/Mixed%20x.doc!Sheet1"},
        WriteCase{kDocs, u"c:/data\\X.doc", u"c:\\data\\X.doc", u"c:/data\\X.doc"},
        WriteCase{kDocs, u"../a%20b.doc#x", u"C:\\a b.doc", u"../a%20b.doc#x"},
        WriteCase{kDocs, u"C:\\plan.xlsx#Sheet1", u"", u""},
        // File URLs keep separators, host form and escaping; unreserved characters
        // are never escaped.
        WriteCase{kDocs, u"file:///C:\\Users\\x\\Polished%20resume,%20designed.dotx",
                  u"E:\\Users\\x\\Polished resume, designed 2.dotx",
                  u"file:///E:\\Users\\x\\Polished%20resume,%20designed%202.dotx"},
        WriteCase{kDocs, u"file:///D:\\微信文件\\WeChat%20Files\\a.xlsx",
                  u"E:\\微信文件\\Wé Files\\b.xlsx", u"file:///E:\\微信文件\\Wé%20Files\\b.xlsx"},
        WriteCase{kPkg, u"file:///C:/Data/%C3%BCber%20plan.odt", u"D:\\Data\\über plan 😀.odt",
                  u"file:///D:/Data/%C3%BCber%20plan%20%F0%9F%98%80.odt"},
        WriteCase{kDocs, u"file:///C:/a%20b.doc", u"D:\\über.doc", u"file:///D:/über.doc"},
        WriteCase{kPkg, u"file:///C:/a%c3%bc.odt", u"D:\\ä.odt", u"file:///D:/%c3%a4.odt"},
        WriteCase{kPkg, u"file:///C:/My Docs/a.odt", u"D:\\My Docs\\b c.odt",
                  u"file:///D:/My Docs/b c.odt"},
        WriteCase{kPkg, u"file:///C:/Data/x.odt", u"D:\\100% #1?.odt",
                  u"file:///D:/100%25%20%231%3F.odt"},
        WriteCase{kDocs, u"file:///C:/a%5Bb%5D.doc", u"D:\\[x].doc", u"file:///D:/%5Bx%5D.doc"},
        WriteCase{kDocs, u"file:///C:/d%61ta%2Exlsx!Sheet1", u"D:\\data 2.xlsx",
                  u"file:///D:/data%202.xlsx!Sheet1"},
        WriteCase{Ooxml(u"C:\\Users\\me\\Docs"), u"%2e.R!", u"E:\\Moved here\\new target.xlsx",
                  u"file:///E:\\Moved%20here\\new%20target.xlsx!"},
        WriteCase{kPkg, u"file://srv1/proj/a.odt", u"\\\\srv2\\proj\\a.odt",
                  u"file://srv2/proj/a.odt"},
        WriteCase{kDocs, u"file:///\\\\srv1\\proj\\a.doc", u"\\\\SRV2\\proj\\a b.doc",
                  u"file:///\\\\SRV2\\proj\\a%20b.doc"},
        WriteCase{kPkg, u"file://srv1/proj/a.odt", u"\\\\LocalHost\\proj\\a.odt",
                  u"file:////LocalHost/proj/a.odt"},
        WriteCase{kDocs, u"file:////srv1/proj/a.doc", u"\\\\srv2\\p\\a.doc",
                  u"file:////srv2/p/a.doc"},
        WriteCase{kPkg, u"file://localhost/C:/x.odt", u"D:\\x.odt", u"file://localhost/D:/x.odt"},
        WriteCase{kDocs, u"file:///C:/x.doc", u"D:x.doc", u"file:///D:x.doc"},
        WriteCase{kDocs, u"file:///C|/x.doc", u"D:\\x.doc", u"file:///D|/x.doc"},
        WriteCase{kPkg, u"file:///home/u/x.odt", u"/home/v/x y\\z.odt",
                  u"file:///home/v/x%20y%5Cz.odt"},
        // A network-path reference stays one while it names a share.
        WriteCase{kPkg, u"//server/share/dir%20x/a.ods", u"\\\\srv2\\proj\\dir x\\b.ods",
                  u"//srv2/proj/dir%20x/b.ods"},
        WriteCase{kPkg, u"//server/share/a.ods#Sheet1", u"D:\\a b.ods",
                  u"file:///D:/a%20b.ods#Sheet1"},
        WriteCase{kPkg, u"file://srv1/proj/a.odt", u"\\\\srv2", u""},
        // A change of kind follows the separators.
        WriteCase{kPkg, u"file:///C:/a.odt", u"\\\\srv2\\proj\\a.odt", u"file://srv2/proj/a.odt"},
        WriteCase{kDocs, u"file:///C:\\a.doc", u"\\\\srv2\\proj\\a.doc",
                  u"file:///\\\\srv2\\proj\\a.doc"},
        WriteCase{kPkg, u"file://srv1/proj/a.odt", u"D:\\a.odt", u"file:///D:/a.odt"},
        WriteCase{kDocs, u"file:///\\\\srv1\\proj\\a.doc", u"D:\\x\\a.doc",
                  u"file:///D:\\x\\a.doc"},
        WriteCase{kDocs, u"C:\\a.doc", u"\\\\srv2\\proj\\a.doc", u"\\\\srv2\\proj\\a.doc"},
        WriteCase{kDocs, u"C:/Data/a.doc", u"\\\\srv2\\proj\\a.doc", u"//srv2/proj/a.doc"},
        WriteCase{kDocs, u"\\\\srv1\\proj\\a.doc", u"D:\\a.doc", u"D:\\a.doc"},
        WriteCase{kPkg, u"file:///home/u/x.odt", u"D:\\x.odt", u"file:///D:/x.odt"},
        WriteCase{kDocs, u"file:///C:/Data/plan.doc", u"\\Data\\plan doc.doc",
                  u"/Data/plan%20doc.doc"},
        // Plain paths are not escaped, unless an ambiguous name needs a URL.
        WriteCase{kDocs, u"C:/Data\\x.doc", u"D:\\Data\\y z.doc", u"D:/Data/y z.doc"},
        WriteCase{kDocs, u"C:\\x.doc", u"D:\\100%20.doc", u"D:\\100%20.doc"},
        WriteCase{kDocs, u"file:///C:/old/d.xlsx!Tables!R1C1", u"D:\\old\\d.xlsx",
                  u"file:///D:/old/d.xlsx!Tables!R1C1"},
        WriteCase{kDocs, u"C:\\Fun!\\data.xlsx!Sheet1", u"\\\\s\\p\\Fun!\\data.xlsx",
                  u"\\\\s\\p\\Fun!\\data.xlsx!Sheet1"},
        WriteCase{kDocs, u"C:\\Data\\plan.xlsx#Sheet1", u"D:\\C# Data\\plan.xlsx",
                  u"D:\\C# Data\\plan.xlsx#Sheet1"},
        WriteCase{kPkg, u"file:///C:/Data/plan.xlsx#Sheet1", u"D:\\Data\\plan.xlsx",
                  u"file:///D:/Data/plan.xlsx#Sheet1"},
        WriteCase{kDocs, u"file:///C:/Data/x.xlsx", u"D:\\Fun!\\a.xlsx!b.xlsx",
                  u"file:///D:/Fun!/a.xlsx%21b.xlsx"},
        WriteCase{kDocs, u"C:\\Data\\x.xlsx", u"D:\\a.xlsx!b.xlsx", u"file:///D:\\a.xlsx%21b.xlsx"},
        WriteCase{kHome, u"file:///home/u/x.xlsx", u"/home/v/a.x!b\\c.xlsx",
                  u"file:///home/v/a.x%21b%5Cc.xlsx"},
        WriteCase{kDocs, u"C:\\x.doc", u"D:\\plan.xlsx#notes", u"file:///D:\\plan.xlsx%23notes"},
        // Relative references stay relative on the base's drive, share or root.
        WriteCase{kDocs, u"../Data/rel%20doc.docx", u"C:\\Data\\new doc.docx",
                  u"../Data/new%20doc.docx"},
        WriteCase{kDocs, u"a.docx", u"C:\\docs\\sub\\x.docx", u"sub/x.docx"},
        WriteCase{kDocs, u"a.docx", u"c:\\DOCS\\sub\\x.docx", u"file:///c:\\DOCS\\sub\\x.docx"},
        WriteCase{kShare, u"..\\x.docx", u"\\\\srv\\share\\other\\x.docx", u"..\\other\\x.docx"},
        WriteCase{kDocs, u"../Data/rel%20doc.docx", u"D:\\Data\\rel doc.docx",
                  u"file:///D:\\Data\\rel%20doc.docx"},
        WriteCase{kDocs, u"x.docx", u"\\\\srv2\\proj\\x.docx", u"file:///\\\\srv2\\proj\\x.docx"},
        WriteCase{kDocs, u"/contratacion/GM.xlsx", u"C:\\otra carpeta\\GM.xlsx",
                  u"/otra%20carpeta/GM.xlsx"},
        WriteCase{kDocs, u"/contratacion/GM.xlsx", u"D:\\contratacion\\GM.xlsx",
                  u"file:///D:\\contratacion\\GM.xlsx"},
        WriteCase{kDocs, u"data.xlsx!Sheet1!R1C1", u"C:\\docs\\new.xlsx", u"new.xlsx!Sheet1!R1C1"},
        WriteCase{kWinPkg, u"../x.odt", u"C:\\e\\y.odt", u"../../e/y.odt"},
        WriteCase{kWinPkg, u"../x.odt", u"D:\\d\\x.odt", u"file:///D:/d/x.odt"},
        WriteCase{kWinPkg, u"../x.odt#Top", u"\\\\srv\\share\\x y.odt",
                  u"file://srv/share/x%20y.odt#Top"},
        WriteCase{kSubDoc, u"../../x.odt", u"/d/e/y.odt", u"../../e/y.odt"},
        WriteCase{kPkg, u"../x.odt", u"/d/a.odt/Pictures/p.png", u"file:///d/a.odt/Pictures/p.png"},
        WriteCase{Odf(u"/home/u/a.odt", u"/home/u/a.odt"), u"../x.odt", u"/srv/x%.odt",
                  u"../../../srv/x%25.odt"}));

// References built from the pieces that make reading hard, rewritten to paths
// that are just as hard: whatever is written must read back as the new path
// with the suffix kept.
TEST(FormatLinkTarget, EveryRewriteReadsBackAsTheNewPath) {
  const std::vector<std::u16string> heads = {u"file:///C:/",
                                             u"file:///C:\\",
                                             u"file://srv/sh/",
                                             u"file:///\\\\srv\\sh\\",
                                             u"C:\\",
                                             u"//srv/sh/",
                                             u"",
                                             u"..\\",
                                             u"/",
                                             u"file:///home/"};
  const std::vector<std::u16string> names = {u"a b.xlsx", u"ü%20.odt",    u"x#1.docx",
                                             u"v1.0!",    u"Fun!/d.xlsx", u"%2E%61.xlsx"};
  const std::vector<std::u16string> suffixes = {u"", u"#Top", u"!Sheet1!R1C1"};
  const std::vector<std::u16string> newPaths = {
      u"D:\\Data\\plan.xlsx", u"d:/x y/z%.doc",        u"\\\\srv2\\proj\\a#b.xlsx",
      u"C:\\docs\\n.xlsx",    u"C:\\x\\a.xlsx!b.xlsx", u"\\\\srv\\sh\\q?.xlsx"};
  const std::vector<TargetContext> contexts = {
      kDocs, Ooxml(u"\\\\srv\\sh\\docs"), Odf(u"C:\\docs\\a.odt", u"C:\\docs\\a.odt"),
      Odf(u"\\\\srv\\sh\\a.odt\\Object 1", u"\\\\srv\\sh\\a.odt")};
  int checked = 0;
  for (const TargetContext& context : contexts) {
    for (const auto& head : heads) {
      for (const auto& name : names) {
        for (const auto& suffix : suffixes) {
          const std::u16string stored = head + name + suffix;
          const std::optional<LinkTarget> target = ParseLinkTarget(stored, context);
          if (!target) continue;
          for (const auto& newPath : newPaths) {
            const std::u16string written = FormatLinkTarget(*target, newPath, context);
            const std::optional<LinkTarget> reread = ParseLinkTarget(written, context);
            ASSERT_TRUE(reread) << Show(stored) << " -> " << Show(written);
            std::u16string expected = newPath;
            for (char16_t& ch : expected) ch = ch == u'/' ? u'\\' : ch;
            EXPECT_EQ(Show(reread->absolutePath), Show(expected))
                << Show(stored) << " -> " << Show(written);
            EXPECT_EQ(Show(reread->suffix), Show(target->suffix))
                << Show(stored) << " -> " << Show(written);
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace quavelle::docserver
