#include "services/docserver/LinkTarget.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

constexpr auto kOoxml = TargetSyntax::OfficeOpenXml;
constexpr auto kOdf = TargetSyntax::OpenDocument;

std::string Show(std::u16string_view text) { return ToUtf8(text); }

TargetContext Ooxml(std::u16string base) { return {kOoxml, std::move(base), u""}; }
TargetContext Odf(std::u16string base, std::u16string package) {
  return {kOdf, std::move(base), std::move(package)};
}

// ----- reading -----

struct ReadCase {
  const char* name;
  TargetContext context;
  std::u16string stored;
  std::optional<std::u16string> absolutePath;  // nullopt: not a link
  std::u16string suffix;
  TargetForm form;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

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

const auto kUrl = TargetForm::FileUrl;
const auto kPlain = TargetForm::PlainPath;
const auto kRel = TargetForm::RelativePath;
const std::nullopt_t kNoLink = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    DriveAndShareForms, ReadsStoredReference,
    testing::Values(ReadCase{"url_slashes", Ooxml(u"C:\\docs"), u"file:///C:/Data/plan.doc",
                             u"C:\\Data\\plan.doc", u"", kUrl},
                    ReadCase{"url_backslashes", Ooxml(u"C:\\docs"), u"file:///C:\\Data\\plan.doc",
                             u"C:\\Data\\plan.doc", u"", kUrl},
                    ReadCase{"plain_drive", Ooxml(u"C:\\docs"), u"C:\\Data\\plan.doc",
                             u"C:\\Data\\plan.doc", u"", kPlain},
                    ReadCase{"plain_drive_mixed_separators", Ooxml(u"C:\\docs"),
                             u"c:/Data\\sub/plan.doc", u"c:\\Data\\sub\\plan.doc", u"", kPlain},
                    ReadCase{"url_host_share", Ooxml(u"C:\\docs"), u"file://srv1/proj/a.doc",
                             u"\\\\srv1\\proj\\a.doc", u"", kUrl},
                    ReadCase{"url_backslash_share", Ooxml(u"C:\\docs"),
                             u"file:///\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj\\a.doc", u"", kUrl},
                    ReadCase{"url_four_slash_share", Odf(u"/d/a.odt", u"/d/a.odt"),
                             u"file:////srv2/proj/a.docx", u"\\\\srv2\\proj\\a.docx", u"", kUrl},
                    ReadCase{"plain_share", Ooxml(u"C:\\docs"), u"\\\\srv1\\proj\\a.doc",
                             u"\\\\srv1\\proj\\a.doc", u"", kPlain},
                    ReadCase{"plain_share_forward", Ooxml(u"/home/u"), u"//srv1/proj/a.doc",
                             u"\\\\srv1\\proj\\a.doc", u"", kPlain},
                    ReadCase{"url_localhost_drive", Odf(u"/d/a.odt", u"/d/a.odt"),
                             u"file://localhost/C:/x.doc", u"C:\\x.doc", u"", kUrl},
                    ReadCase{"url_pipe_drive_upper_scheme", Ooxml(u"C:\\docs"), u"FILE:///c|/x.doc",
                             u"c:\\x.doc", u"", kUrl},
                    ReadCase{"url_posix", Odf(u"/d/a.odt", u"/d/a.odt"),
                             u"file:///home/u/x%20y.odt", u"/home/u/x y.odt", u"", kUrl},
                    ReadCase{"url_posix_keeps_escaped_backslash", Odf(u"/d/a.odt", u"/d/a.odt"),
                             u"file:///home/u/a%5Cb.odt", u"/home/u/a\\b.odt", u"", kUrl}));

INSTANTIATE_TEST_SUITE_P(
    Escapes, ReadsStoredReference,
    testing::Values(ReadCase{"utf8_escapes_decoded", Odf(u"/d/a.odt", u"/d/a.odt"),
                             u"file:///C:/Data/%C3%BCber%20plan.odt", u"C:\\Data\\über plan.odt",
                             u"", kUrl},
                    ReadCase{"raw_non_ascii_stays", Ooxml(u"C:\\docs"),
                             u"file:///D:\\微信文件\\WeChat%20Files\\样板间.xlsx",
                             u"D:\\微信文件\\WeChat Files\\样板间.xlsx", u"", kUrl},
                    ReadCase{"escaped_hash_is_a_name", Ooxml(u"C:\\docs"),
                             u"file:///C:/a%23b.doc#Top", u"C:\\a#b.doc", u"#Top", kUrl},
                    ReadCase{"ill_formed_utf8_escape_kept", Ooxml(u"C:\\docs"),
                             u"file:///C:/a%FF%41.doc", u"C:\\a%FFA.doc", u"", kUrl},
                    ReadCase{"truncated_escape_kept", Ooxml(u"C:\\docs"), u"file:///C:/a%4",
                             u"C:\\a%4", u"", kUrl},
                    ReadCase{"plain_path_is_not_decoded", Ooxml(u"C:\\docs"), u"C:\\100%20.doc",
                             u"C:\\100%20.doc", u"", kPlain},
                    ReadCase{"relative_escaped_separator_stays_in_name",
                             Odf(u"/d/a.odt", u"/d/a.odt"), u"../a%5Cb/../c.odt", u"/d/c.odt", u"",
                             kRel}));

INSTANTIATE_TEST_SUITE_P(
    Suffixes, ReadsStoredReference,
    testing::Values(
        ReadCase{"ole_item_in_url", Ooxml(u"C:\\docs"),
                 u"file:///C:/old/data.xlsx!Tables!R1C1:R5C5", u"C:\\old\\data.xlsx",
                 u"!Tables!R1C1:R5C5", kUrl},
        ReadCase{"bang_in_folder_is_a_name", Ooxml(u"C:\\docs"),
                 u"C:\\Fun!\\v1.2!\\data.xlsx!Sheet1", u"C:\\Fun!\\v1.2!\\data.xlsx", u"!Sheet1",
                 kPlain},
        ReadCase{"bang_without_extension_is_a_name", Ooxml(u"C:\\docs"), u"C:\\Wow!Great.xlsx",
                 u"C:\\Wow!Great.xlsx", u"", kPlain},
        ReadCase{"plain_fragment_after_extension", Ooxml(u"C:\\docs"),
                 u"C:\\Data\\plan.xlsx#Sheet1", u"C:\\Data\\plan.xlsx", u"#Sheet1", kPlain},
        ReadCase{"plain_hash_in_names", Ooxml(u"C:\\docs"), u"C:\\C# Projects\\notes#1.docx",
                 u"C:\\C# Projects\\notes#1.docx", u"", kPlain},
        ReadCase{"plain_hash_before_file_name_rest", Ooxml(u"C:\\docs"),
                 u"C:\\Data\\report.final#2.docx", u"C:\\Data\\report.final#2.docx", u"", kPlain},
        ReadCase{"url_fragment_with_cell", Ooxml(u"C:\\docs"),
                 u"file:///C:/Data/plan.xlsx#Sheet1!A1", u"C:\\Data\\plan.xlsx", u"#Sheet1!A1",
                 kUrl},
        ReadCase{"url_hash_always_fragment", Odf(u"/d/a.odt", u"/d/a.odt"),
                 u"file:///C:/Data/notes#1.odt", u"C:\\Data\\notes", u"#1.odt", kUrl},
        ReadCase{"opendocument_keeps_bang", Odf(u"/d/a.odt", u"/d/a.odt"),
                 u"file:///C:/Data/plan.ods!Sheet1", u"C:\\Data\\plan.ods!Sheet1", u"", kUrl},
        ReadCase{"relative_fragment", Odf(u"/d/a.odt", u"/d/a.odt"), u"../x.ods#Sheet1.A1",
                 u"/d/x.ods", u"#Sheet1.A1", kRel},
        ReadCase{"item_after_escaped_dot_in_url", Ooxml(u"C:\\docs"),
                 u"file:///C:/Data/plan%2Exlsx!Sheet1", u"C:\\Data\\plan.xlsx", u"!Sheet1", kUrl},
        ReadCase{"item_after_escaped_letter_in_relative", Ooxml(u"C:\\docs"), u"data.x%6Csx!Sheet1",
                 u"C:\\docs\\data.xlsx", u"!Sheet1", kRel},
        ReadCase{"fragment_after_escaped_dot_in_relative", Ooxml(u"C:\\docs"),
                 u"plan%2exlsx#Sheet1", u"C:\\docs\\plan.xlsx", u"#Sheet1", kRel},
        ReadCase{"escaped_bang_is_a_name", Ooxml(u"C:\\docs"), u"file:///C:/a.xlsx%21b",
                 u"C:\\a.xlsx!b", u"", kUrl},
        ReadCase{"escaped_separator_before_dot_leaves_no_extension", Ooxml(u"C:\\docs"),
                 u"file:///C:/a%2F.xlsx!b", u"C:\\a\\.xlsx!b", u"", kUrl}));

INSTANTIATE_TEST_SUITE_P(
    RelativeBases, ReadsStoredReference,
    testing::Values(
        ReadCase{"ooxml_same_folder", Ooxml(u"C:\\docs"), u"data.xlsx", u"C:\\docs\\data.xlsx", u"",
                 kRel},
        ReadCase{"ooxml_parent_posix_base", Ooxml(u"/home/u/lo/wordstyle"),
                 u"../Data/rel%20doc.docx", u"/home/u/lo/Data/rel doc.docx", u"", kRel},
        ReadCase{"ooxml_backslashes_share_base", Ooxml(u"\\\\srv\\share\\docs\\sub"),
                 u"..\\Data\\x.xlsx", u"\\\\srv\\share\\docs\\Data\\x.xlsx", u"", kRel},
        ReadCase{"ooxml_forward_slash_windows_base", Ooxml(u"C:/docs/"), u"./a/./b.doc",
                 u"C:\\docs\\a\\b.doc", u"", kRel},
        ReadCase{"climb_stops_at_drive_root", Ooxml(u"C:\\docs"), u"../../../x.doc", u"C:\\x.doc",
                 u"", kRel},
        ReadCase{"climb_stops_at_share_root", Ooxml(u"\\\\srv\\share\\a"), u"..\\..\\..\\x.doc",
                 u"\\\\srv\\share\\x.doc", u"", kRel},
        ReadCase{"climb_stops_at_posix_root", Ooxml(u"/home"), u"../../x.doc", u"/x.doc", u"",
                 kRel},
        ReadCase{"root_relative_drive", Ooxml(u"C:\\docs\\deep"), u"/contratacion/GM%201T.xlsx",
                 u"C:\\contratacion\\GM 1T.xlsx", u"", kRel},
        ReadCase{"root_relative_share", Ooxml(u"\\\\srv\\share\\docs"), u"/x/y.xlsx",
                 u"\\\\srv\\share\\x\\y.xlsx", u"", kRel},
        ReadCase{"root_relative_posix_is_absolute", Ooxml(u"/home/u"), u"/srv/y.xlsx",
                 u"/srv/y.xlsx", u"", kPlain},
        ReadCase{"odf_package_as_folder", Odf(u"/d/a.odt", u"/d/a.odt"), u"../x.odt", u"/d/x.odt",
                 u"", kRel},
        ReadCase{"odf_deeper", Odf(u"/home/u/lo/out/links.odt", u"/home/u/lo/out/links.odt"),
                 u"../../Data/rel%20doc.odt", u"/home/u/lo/Data/rel doc.odt", u"", kRel},
        ReadCase{"odf_sub_document", Odf(u"/d/a.odt/Object 1", u"/d/a.odt"), u"../../x.odt",
                 u"/d/x.odt", u"", kRel},
        ReadCase{"odf_windows_base", Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt"), u"../x.odt",
                 u"C:\\d\\x.odt", u"", kRel},
        ReadCase{"odf_climbs_out_and_back_in_other_case", Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt"),
                 u"../A.ODT2/x.png", u"C:\\d\\A.ODT2\\x.png", u"", kRel},
        ReadCase{"odf_flat_file_has_no_parts", Odf(u"/d", u""), u"Pictures/x.png",
                 u"/d/Pictures/x.png", u"", kRel}));

INSTANTIATE_TEST_SUITE_P(
    NotLinks, ReadsStoredReference,
    testing::Values(
        ReadCase{"web", Ooxml(u"C:\\docs"), u"http://example.org/a.doc", kNoLink, u"", kUrl},
        ReadCase{"secure_web", Ooxml(u"C:\\docs"), u"HTTPS://example.org", kNoLink, u"", kUrl},
        ReadCase{"ftp", Odf(u"/d/a.odt", u"/d/a.odt"), u"ftp://h/a.odt", kNoLink, u"", kUrl},
        ReadCase{"mail", Ooxml(u"C:\\docs"), u"mailto:a@b.c", kNoLink, u"", kUrl},
        ReadCase{"package_script", Odf(u"/d/a.odt", u"/d/a.odt"),
                 u"vnd.sun.star.script:Lib.Mod.Main?language=Basic", kNoLink, u"", kUrl},
        ReadCase{"dispatch", Odf(u"/d/a.odt", u"/d/a.odt"), u".uno:Open", kNoLink, u"", kUrl},
        ReadCase{"macro", Odf(u"/d/a.odt", u"/d/a.odt"), u"macro:///Standard.Module1.Main", kNoLink,
                 u"", kUrl},
        ReadCase{"presentation_action", Ooxml(u"C:\\docs"), u"ppaction://hlinkshowjump", kNoLink,
                 u"", kUrl},
        ReadCase{"fragment_only", Odf(u"/d/a.odt", u"/d/a.odt"), u"#Top", kNoLink, u"", kUrl},
        ReadCase{"fragment_only_ooxml", Ooxml(u"C:\\docs"), u"#Sheet1!A1", kNoLink, u"", kUrl},
        ReadCase{"empty", Ooxml(u"C:\\docs"), u"", kNoLink, u"", kUrl},
        ReadCase{"file_without_path", Ooxml(u"C:\\docs"), u"file:x.doc", kNoLink, u"", kUrl},
        ReadCase{"file_empty_authority", Ooxml(u"C:\\docs"), u"file://", kNoLink, u"", kUrl},
        ReadCase{"picture_part", Odf(u"/d/a.odt", u"/d/a.odt"), u"Pictures/1000.png", kNoLink, u"",
                 kUrl},
        ReadCase{"object_part", Odf(u"/d/a.odt", u"/d/a.odt"), u"./Object 1", kNoLink, u"", kUrl},
        ReadCase{"object_folder_part", Odf(u"/d/a.odt", u"/d/a.odt"), u"Object%201/", kNoLink, u"",
                 kUrl},
        ReadCase{"replacement_part", Odf(u"/d/a.odt", u"/d/a.odt"),
                 u"./ObjectReplacements/Object 1", kNoLink, u"", kUrl},
        ReadCase{"part_from_sub_document", Odf(u"/d/a.odt/Object 1", u"/d/a.odt"),
                 u"../Pictures/x.png", kNoLink, u"", kUrl},
        ReadCase{"part_windows_other_case", Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt"),
                 u"../A.ODT/Pictures/x.png", kNoLink, u"", kUrl}));

// ----- writing -----

struct WriteCase {
  const char* name;
  TargetContext context;
  std::u16string stored;
  std::u16string newPath;
  std::u16string expected;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WritesNewPath : public testing::TestWithParam<WriteCase> {};

// Besides the exact text, what was written must read back as the new path
// (with backslashes on Windows paths) with the suffix it had.
TEST_P(WritesNewPath, InTheFormFound) {
  const WriteCase& c = GetParam();
  const std::optional<LinkTarget> target = ParseLinkTarget(c.stored, c.context);
  ASSERT_TRUE(target);
  const std::u16string written = FormatLinkTarget(*target, c.newPath, c.context);
  EXPECT_EQ(Show(written), Show(c.expected));

  const std::optional<LinkTarget> reread = ParseLinkTarget(written, c.context);
  ASSERT_TRUE(reread) << Show(written);
  std::u16string expectedPath = c.newPath;
  if (expectedPath.front() != u'/') {
    for (char16_t& ch : expectedPath) ch = ch == u'/' ? u'\\' : ch;
  }
  if (expectedPath.front() == u'\\' && expectedPath[1] != u'\\') {
    expectedPath.insert(0, c.context.base.substr(0, 2));  // the base's drive
  }
  EXPECT_EQ(Show(reread->absolutePath), Show(expectedPath));
  EXPECT_EQ(reread->suffix, target->suffix);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, WritesNewPath,
    testing::Values(
        WriteCase{"drive_slashes", Ooxml(u"C:\\docs"), u"file:///C:/Data/plan.doc",
                  u"D:\\Data\\plan.doc", u"file:///D:/Data/plan.doc"},
        WriteCase{"drive_backslashes_escaped_spaces", Ooxml(u"C:\\docs"),
                  u"file:///C:\\Users\\x\\Polished%20resume,%20designed.dotx",
                  u"E:\\Users\\x\\Polished resume, designed 2.dotx",
                  u"file:///E:\\Users\\x\\Polished%20resume,%20designed%202.dotx"},
        WriteCase{"raw_non_ascii_stays_raw", Ooxml(u"C:\\docs"),
                  u"file:///D:\\微信文件\\WeChat%20Files\\a.xlsx",
                  u"E:\\微信文件\\Wé Files\\b.xlsx", u"file:///E:\\微信文件\\Wé%20Files\\b.xlsx"},
        WriteCase{"escaped_non_ascii_stays_escaped", Odf(u"/d/a.odt", u"/d/a.odt"),
                  u"file:///C:/Data/%C3%BCber%20plan.odt", u"D:\\Data\\über plan 😀.odt",
                  u"file:///D:/Data/%C3%BCber%20plan%20%F0%9F%98%80.odt"},
        WriteCase{"non_ascii_raw_when_original_had_none", Ooxml(u"C:\\docs"),
                  u"file:///C:/a%20b.doc", u"D:\\über.doc", u"file:///D:/über.doc"},
        WriteCase{"lower_hex_kept", Odf(u"/d/a.odt", u"/d/a.odt"), u"file:///C:/a%c3%bc.odt",
                  u"D:\\ä.odt", u"file:///D:/%c3%a4.odt"},
        WriteCase{"raw_spaces_kept", Odf(u"/d/a.odt", u"/d/a.odt"), u"file:///C:/My Docs/a.odt",
                  u"D:\\My Docs\\b c.odt", u"file:///D:/My Docs/b c.odt"},
        WriteCase{"percent_hash_question_escaped", Odf(u"/d/a.odt", u"/d/a.odt"),
                  u"file:///C:/Data/x.odt", u"D:\\100% #1?.odt",
                  u"file:///D:/100%25%20%231%3F.odt"},
        WriteCase{"other_escaped_ascii_escaped_again", Ooxml(u"C:\\docs"),
                  u"file:///C:/a%5Bb%5D.doc", u"D:\\[x].doc", u"file:///D:/%5Bx%5D.doc"},
        WriteCase{"host_form_kept", Odf(u"/d/a.odt", u"/d/a.odt"), u"file://srv1/proj/a.odt",
                  u"\\\\srv2\\proj\\a.odt", u"file://srv2/proj/a.odt"},
        WriteCase{"backslash_share_kept", Ooxml(u"C:\\docs"), u"file:///\\\\srv1\\proj\\a.doc",
                  u"\\\\SRV2\\proj\\a b.doc", u"file:///\\\\SRV2\\proj\\a%20b.doc"},
        WriteCase{"server_named_localhost_stays_a_share", Odf(u"/d/a.odt", u"/d/a.odt"),
                  u"file://srv1/proj/a.odt", u"\\\\LocalHost\\proj\\a.odt",
                  u"file:////LocalHost/proj/a.odt"},
        WriteCase{"four_slash_share_kept", Ooxml(u"C:\\docs"), u"file:////srv1/proj/a.doc",
                  u"\\\\srv2\\p\\a.doc", u"file:////srv2/p/a.doc"},
        WriteCase{"localhost_kept", Odf(u"/d/a.odt", u"/d/a.odt"), u"file://localhost/C:/x.odt",
                  u"D:\\x.odt", u"file://localhost/D:/x.odt"},
        WriteCase{"drive_without_separator", Ooxml(u"C:\\docs"), u"file:///C:/x.doc", u"D:x.doc",
                  u"file:///D:x.doc"},
        WriteCase{"pipe_kept", Ooxml(u"C:\\docs"), u"file:///C|/x.doc", u"D:\\x.doc",
                  u"file:///D|/x.doc"},
        WriteCase{"posix", Odf(u"/d/a.odt", u"/d/a.odt"), u"file:///home/u/x.odt",
                  u"/home/v/x y\\z.odt", u"file:///home/v/x%20y%5Cz.odt"}));

INSTANTIATE_TEST_SUITE_P(
    ChangeOfKind, WritesNewPath,
    testing::Values(
        WriteCase{"url_drive_to_host_share", Odf(u"/d/a.odt", u"/d/a.odt"), u"file:///C:/a.odt",
                  u"\\\\srv2\\proj\\a.odt", u"file://srv2/proj/a.odt"},
        WriteCase{"url_backslash_drive_to_share", Ooxml(u"C:\\docs"), u"file:///C:\\a.doc",
                  u"\\\\srv2\\proj\\a.doc", u"file:///\\\\srv2\\proj\\a.doc"},
        WriteCase{"url_host_share_to_drive", Odf(u"/d/a.odt", u"/d/a.odt"),
                  u"file://srv1/proj/a.odt", u"D:\\a.odt", u"file:///D:/a.odt"},
        WriteCase{"url_backslash_share_to_drive", Ooxml(u"C:\\docs"),
                  u"file:///\\\\srv1\\proj\\a.doc", u"D:\\x\\a.doc", u"file:///D:\\x\\a.doc"},
        WriteCase{"plain_drive_to_share", Ooxml(u"C:\\docs"), u"C:\\a.doc",
                  u"\\\\srv2\\proj\\a.doc", u"\\\\srv2\\proj\\a.doc"},
        WriteCase{"plain_forward_drive_to_share", Ooxml(u"C:\\docs"), u"C:/Data/a.doc",
                  u"\\\\srv2\\proj\\a.doc", u"//srv2/proj/a.doc"},
        WriteCase{"plain_share_to_drive", Ooxml(u"C:\\docs"), u"\\\\srv1\\proj\\a.doc",
                  u"D:\\a.doc", u"D:\\a.doc"},
        WriteCase{"posix_url_to_drive", Odf(u"/d/a.odt", u"/d/a.odt"), u"file:///home/u/x.odt",
                  u"D:\\x.odt", u"file:///D:/x.odt"},
        WriteCase{"drive_dropped_becomes_root_relative", Ooxml(u"C:\\docs"),
                  u"file:///C:/Data/plan.doc", u"\\Data\\plan doc.doc", u"/Data/plan%20doc.doc"}));

INSTANTIATE_TEST_SUITE_P(
    PlainAndSuffixes, WritesNewPath,
    testing::Values(
        WriteCase{"plain_keeps_separators", Ooxml(u"C:\\docs"), u"C:/Data\\x.doc",
                  u"D:\\Data\\y z.doc", u"D:/Data/y z.doc"},
        WriteCase{"plain_not_escaped", Ooxml(u"C:\\docs"), u"C:\\x.doc", u"D:\\100%20.doc",
                  u"D:\\100%20.doc"},
        WriteCase{"item_kept_on_url", Ooxml(u"C:\\docs"),
                  u"file:///C:/old/data.xlsx!Tables!R1C1:R5C5", u"D:\\old\\data.xlsx",
                  u"file:///D:/old/data.xlsx!Tables!R1C1:R5C5"},
        WriteCase{"item_kept_on_plain", Ooxml(u"C:\\docs"), u"C:\\Fun!\\data.xlsx!Sheet1",
                  u"\\\\s\\p\\Fun!\\data.xlsx", u"\\\\s\\p\\Fun!\\data.xlsx!Sheet1"},
        WriteCase{"fragment_kept_on_plain", Ooxml(u"C:\\docs"), u"C:\\Data\\plan.xlsx#Sheet1",
                  u"D:\\C# Data\\plan.xlsx", u"D:\\C# Data\\plan.xlsx#Sheet1"},
        WriteCase{"fragment_kept_on_url", Odf(u"/d/a.odt", u"/d/a.odt"),
                  u"file:///C:/Data/plan.xlsx#Sheet1", u"D:\\Data\\plan.xlsx",
                  u"file:///D:/Data/plan.xlsx#Sheet1"},
        WriteCase{"bang_after_extension_escaped_in_url", Ooxml(u"C:\\docs"),
                  u"file:///C:/Data/x.xlsx", u"D:\\Fun!\\a.xlsx!b.xlsx",
                  u"file:///D:/Fun!/a.xlsx%21b.xlsx"},
        WriteCase{"ambiguous_plain_becomes_url", Ooxml(u"C:\\docs"), u"C:\\Data\\x.xlsx",
                  u"D:\\a.xlsx!b.xlsx", u"file:///D:\\a.xlsx%21b.xlsx"},
        WriteCase{"escaped_dot_and_letters_not_copied_to_new_name", Ooxml(u"C:\\docs"),
                  u"file:///C:/d%61ta%2Exlsx!Sheet1", u"D:\\data 2.xlsx",
                  u"file:///D:/data%202.xlsx!Sheet1"},
        WriteCase{"escaped_dot_before_empty_item_not_copied", Ooxml(u"C:\\Users\\me\\Docs"),
                  u"%2e.R!", u"E:\\Moved here\\new target.xlsx",
                  u"file:///E:\\Moved%20here\\new%20target.xlsx!"},
        WriteCase{"bang_before_escaped_backslash_escaped", Ooxml(u"/home/u"),
                  u"file:///home/u/x.xlsx", u"/home/v/a.x!b\\c.xlsx",
                  u"file:///home/v/a.x%21b%5Cc.xlsx"},
        WriteCase{"ambiguous_plain_fragment_becomes_url", Ooxml(u"C:\\docs"), u"C:\\x.doc",
                  u"D:\\plan.xlsx#notes", u"file:///D:\\plan.xlsx%23notes"}));

INSTANTIATE_TEST_SUITE_P(
    Relatives, WritesNewPath,
    testing::Values(
        WriteCase{"ooxml_stays_relative_on_same_drive", Ooxml(u"C:\\docs"),
                  u"../Data/rel%20doc.docx", u"C:\\Data\\new doc.docx", u"../Data/new%20doc.docx"},
        WriteCase{"ooxml_relative_below_base", Ooxml(u"C:\\docs"), u"a.docx",
                  u"C:\\docs\\sub\\x.docx", u"sub/x.docx"},
        WriteCase{"ooxml_relative_other_case_becomes_url", Ooxml(u"C:\\docs"), u"a.docx",
                  u"c:\\DOCS\\sub\\x.docx", u"file:///c:\\DOCS\\sub\\x.docx"},
        WriteCase{"ooxml_backslash_relative_kept", Ooxml(u"\\\\srv\\share\\docs"), u"..\\x.docx",
                  u"\\\\srv\\share\\other\\x.docx", u"..\\other\\x.docx"},
        WriteCase{"ooxml_relative_other_drive_word_style", Ooxml(u"C:\\docs"),
                  u"../Data/rel%20doc.docx", u"D:\\Data\\rel doc.docx",
                  u"file:///D:\\Data\\rel%20doc.docx"},
        WriteCase{"ooxml_relative_to_share_word_style", Ooxml(u"C:\\docs"), u"x.docx",
                  u"\\\\srv2\\proj\\x.docx", u"file:///\\\\srv2\\proj\\x.docx"},
        WriteCase{"ooxml_root_relative_same_drive", Ooxml(u"C:\\docs"), u"/contratacion/GM.xlsx",
                  u"C:\\otra carpeta\\GM.xlsx", u"/otra%20carpeta/GM.xlsx"},
        WriteCase{"ooxml_root_relative_other_drive", Ooxml(u"C:\\docs"), u"/contratacion/GM.xlsx",
                  u"D:\\contratacion\\GM.xlsx", u"file:///D:\\contratacion\\GM.xlsx"},
        WriteCase{"ooxml_relative_item_kept", Ooxml(u"C:\\docs"), u"data.xlsx!Sheet1!R1C1",
                  u"C:\\docs\\new.xlsx", u"new.xlsx!Sheet1!R1C1"},
        WriteCase{"odf_same_drive", Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt"), u"../x.odt",
                  u"C:\\e\\y.odt", u"../../e/y.odt"},
        WriteCase{"odf_other_drive_url", Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt"), u"../x.odt",
                  u"D:\\d\\x.odt", u"file:///D:/d/x.odt"},
        WriteCase{"odf_to_share_url", Odf(u"C:\\d\\a.odt", u"C:\\d\\a.odt"), u"../x.odt#Top",
                  u"\\\\srv\\share\\x y.odt", u"file://srv/share/x%20y.odt#Top"},
        WriteCase{"odf_sub_document", Odf(u"/d/a.odt/Object 1", u"/d/a.odt"), u"../../x.odt",
                  u"/d/e/y.odt", u"../../e/y.odt"},
        WriteCase{"odf_into_own_package_becomes_url", Odf(u"/d/a.odt", u"/d/a.odt"), u"../x.odt",
                  u"/d/a.odt/Pictures/p.png", u"file:///d/a.odt/Pictures/p.png"},
        WriteCase{"odf_posix_climbs_to_other_tree", Odf(u"/home/u/a.odt", u"/home/u/a.odt"),
                  u"../x.odt", u"/srv/x%.odt", u"../../../srv/x%25.odt"}));

TEST(FormatLinkTarget, GivesStoredTextBackWhenThePathIsUnchanged) {
  const TargetContext context = Ooxml(u"C:\\docs");
  for (const std::u16string stored :
       {u"file:///C:\\Data/Mixed%20x.doc!Sheet1", u"c:/data\\X.doc", u"../a%20b.doc#x"}) {
    const std::optional<LinkTarget> target = ParseLinkTarget(stored, context);
    ASSERT_TRUE(target) << Show(stored);
    EXPECT_EQ(FormatLinkTarget(*target, target->absolutePath, context), stored);
  }
}

TEST(FormatLinkTarget, WritesNothingForAnEmptyPath) {
  const TargetContext context = Ooxml(u"C:\\docs");
  const std::optional<LinkTarget> target = ParseLinkTarget(u"C:\\plan.xlsx#Sheet1", context);
  ASSERT_TRUE(target);
  EXPECT_EQ(FormatLinkTarget(*target, u"", context), u"");
}

// References built from the pieces that make reading hard, rewritten to paths
// that are just as hard: whatever is written must read back as the new path
// with the suffix kept.
TEST(FormatLinkTarget, EveryRewriteReadsBackAsTheNewPath) {
  const std::vector<std::u16string> heads = {u"file:///C:/",
                                             u"file:///C:\\",
                                             u"file://srv/sh/",
                                             u"file:///\\\\srv\\sh\\",
                                             u"file:////srv/sh/",
                                             u"C:\\",
                                             u"c:/",
                                             u"\\\\srv\\sh\\",
                                             u"//srv/sh/",
                                             u"",
                                             u"../",
                                             u"..\\",
                                             u"/",
                                             u"./sub/",
                                             u"file:///home/",
                                             u"file://localhost/D:/"};
  const std::vector<std::u16string> names = {u"a.doc",    u"a b.xlsx", u"ü%20.odt",
                                             u"x#1.docx", u"v1.0!",    u"Fun!/d.xlsx",
                                             u"%41.doc",  u"日本.ods", u"%2E%61.xlsx"};
  const std::vector<std::u16string> suffixes = {u"", u"#Top", u"!Sheet1!R1C1", u"#S!A1"};
  const std::vector<std::u16string> newPaths = {
      u"D:\\Data\\plan.xlsx",      u"d:/x y/z%.doc",
      u"\\\\srv2\\proj\\a#b.xlsx", u"//srv2/proj/ü.xlsx",
      u"C:\\docs\\n.xlsx",         u"C:\\x\\a.xlsx!b.xlsx",
      u"\\\\srv\\sh\\q?.xlsx",     u"C:\\docs\\sub\\..\\odd.xlsx"};
  const std::vector<TargetContext> contexts = {
      Ooxml(u"C:\\docs"), Ooxml(u"\\\\srv\\sh\\docs"), Odf(u"C:\\docs\\a.odt", u"C:\\docs\\a.odt"),
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
            // An item needs the file name's extension right before it.
            const std::u16string written = FormatLinkTarget(*target, newPath, context);
            const std::optional<LinkTarget> reread = ParseLinkTarget(written, context);
            ASSERT_TRUE(reread) << Show(stored) << " -> " << Show(written);
            std::u16string expected = newPath;
            for (char16_t& ch : expected) ch = ch == u'/' ? u'\\' : ch;
            const std::u16string& got = reread->absolutePath;
            const bool normalised = newPath.find(u"..") != std::u16string::npos;
            if (!normalised) {
              EXPECT_EQ(Show(got), Show(expected)) << Show(stored) << " -> " << Show(written);
            }
            EXPECT_EQ(Show(reread->suffix), Show(target->suffix))
                << Show(stored) << " -> " << Show(written);
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 2000);
}

// Random text must never crash or hang, and whatever reads as a link must be
// writable to another path and read back.
TEST(ParseLinkTarget, SurvivesRandomText) {
  std::mt19937 random(20261206);
  const std::u16string alphabet = u"/\\:%#!?.aAcCz019 file:%C3%FF\xD800\xDC00\x00E9~|";
  const std::vector<TargetContext> contexts = {Ooxml(u"C:\\docs"), Ooxml(u"/home/u"),
                                               Odf(u"/d/a.odt", u"/d/a.odt"), Odf(u"", u"")};
  for (int round = 0; round < 20000; ++round) {
    std::u16string text(random() % 40, u' ');
    for (char16_t& ch : text) {
      ch = random() % 8 == 0 ? static_cast<char16_t>(random())
                             : alphabet[random() % alphabet.size()];
    }
    if (round % 3 == 0) text.insert(0, u"file:");
    const TargetContext& context = contexts[round % contexts.size()];
    const std::optional<LinkTarget> target = ParseLinkTarget(text, context);
    if (!target) continue;
    EXPECT_EQ(target->stored, text);
    const std::u16string written = FormatLinkTarget(*target, u"E:\\moved\\x.docx", context);
    const std::optional<LinkTarget> reread = ParseLinkTarget(written, context);
    ASSERT_TRUE(reread) << Show(text) << " -> " << Show(written);
    EXPECT_EQ(Show(reread->absolutePath), "E:\\moved\\x.docx")
        << Show(text) << " -> " << Show(written);
    EXPECT_EQ(reread->suffix, target->suffix);
  }
}

}  // namespace
}  // namespace quavelle::docserver
