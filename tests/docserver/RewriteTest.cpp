#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

#include "PackageFixture.h"
#include "ZipLayout.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/ProcessTuning.h"

namespace quavelle::docserver::testing {
namespace {

TEST(Rewrite, ChangesOnlyThatLinkKeepsItsFormEscapesMarkupAndCopiesOtherEntriesRaw) {
  TempFolder folder;
  fs::path file = folder / "text.odt";
  const std::string old = "file:///C:/old/data.ods#Sheet1";
  const std::string content = OdfContent(
      "<text:a xlink:href=\"file:///C:/Data/a.ods\">a</text:a>"
      "<text:a xlink:href=\"" +
      old + "\">b</text:a>");
  WritePackage(file, OdtWith({{"content.xml", content},
                              {"Pictures/1.png", std::string(5000, '\x7f'), true},
                              {"styles.xml", OdfContent("")}}));
  const std::vector<RawEntry> before = ReadEntries(file);

  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  const std::u16string odd = u"D:\\R&D \"Q1\" <draft>\\data.ods";
  SetPathAt(*document, 1, odd);

  EXPECT_EQ(LinkPaths(file), (std::vector<std::u16string>{u"C:\\Data\\a.ods", odd}));
  // Every byte of the part but the value itself is as it was.
  const std::string after = ReadEntries(file, false).at(2).bytes;
  const std::size_t at = content.find(old), tail = content.size() - at - old.size();
  EXPECT_EQ(after.substr(0, at), content.substr(0, at));
  EXPECT_EQ(after.substr(after.size() - tail), content.substr(at + old.size()));
  const std::string value = after.substr(at, after.size() - tail - at);
  EXPECT_TRUE(value.starts_with("file:///D:")) << value;
  EXPECT_TRUE(value.ends_with("data.ods#Sheet1")) << value;
  EXPECT_EQ(value.find_first_of("<\""), std::string::npos) << value;
  EXPECT_EQ(value.find("&D"), std::string::npos) << value;

  const std::vector<RawEntry> entries = ReadEntries(file);
  ASSERT_EQ(entries.size(), before.size());
  EXPECT_EQ(entries[0].name, "mimetype");
  EXPECT_EQ(entries[0].method, 0) << "mimetype must stay stored";
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(entries[i].name, before[i].name);
    EXPECT_TRUE(before[i].name == "content.xml" || entries[i] == before[i]) << before[i].name;
  }
}

const std::string kMathDoctype =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE math:math PUBLIC \"-//OpenOffice.org//"
    "DTD Modified W3C MathML 1.01//EN\" \"math.dtd\">\n<math:math "
    "xmlns:math=\"http://www.w3.org/1998/Math/MathML\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><math:mi xlink:href=\"file:///C:/Data/a.odt\">"
    "x</math:mi></math:math>";

INSTANTIATE_TEST_SUITE_P(Rewrite, RepointedPackage,
                         ::testing::Values(PackageCase{"KeepsADoctypeThatOnlyNamesItsDtd",
                                                       "formula.odt",
                                                       OdtWith({{"content.xml", kMathDoctype}}),
                                                       {u"C:\\Data\\a.odt"},
                                                       u"D:\\Data\\a.odt",
                                                       {{"file:///C:", "file:///D:"}}}),
                         CaseName);

TEST(Rewrite, KeepsEveryEntrysTimestampEvenInTheHourDaylightSavingSkips) {
  // The program runs tuned; the zone is one a user might have.
  ::setenv("TZ", "Europe/Berlin", 1);
  TuneProcessForPackages();
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  // 2026-03-29 02:30:00, an hour that does not exist there.
  constexpr std::uint32_t kSkippedHour =
      (((2026u - 1980) << 9 | 3 << 5 | 29) << 16) | 2 << 11 | 30 << 5;
  std::string bytes = ReadBytes(file);
  std::vector<std::string> names;
  for (const RawEntry& entry : ReadEntries(file)) {
    names.push_back(entry.name);
    bytes = WithEntryField(bytes, entry.name, kCentralDosTime, kLocalDosTime, kSkippedHour);
  }
  { std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes; }

  ASSERT_EQ(SetFirstLink(file, u"D:\\Data\\plan.xlsx"), 0);
  const std::string after = ReadBytes(file);
  ASSERT_NE(after, bytes);
  for (const std::string& name : names)
    EXPECT_EQ(EntryField(after, name, kCentralDosTime, kLocalDosTime), kSkippedHour) << name;
}

struct stat Stat(const fs::path& file) {
  struct stat st {};
  EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
  return st;
}

// Two links in the document's rels and one in a footer's.
struct WordDocument {
  TempFolder folder;
  fs::path file = folder / "letter.docx";
  WordDocument() {
    WritePackage(file, DocxWith({{"word/_rels/document.xml.rels",
                                  Rels(Hyperlink("rId1", "file:///C:\\Data\\plan%20a.xlsx") +
                                       Hyperlink("rId3", "C:\\old\\data.xlsx"))},
                                 {"word/_rels/footer1.xml.rels",
                                  Rels(Hyperlink("rId1", "C:\\Data\\footer.docx"))}}));
  }
};

TEST(Rewrite, LaterChangesBuildOnEarlierOnesInOneAndSeveralParts) {
  WordDocument word;
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(word.file.string()));
  EnumeratedLinks links(*document);
  links[0].SetPath(u"D:\\Data\\plan a.xlsx");
  links[1].SetPath(u"D:\\old\\data.xlsx");
  links[2].SetPath(u"D:\\Data\\footer.docx");
  links[0].SetPath(u"E:\\Data\\plan a.xlsx");
  EXPECT_EQ(links[0].AbsolutePath(), u"E:\\Data\\plan a.xlsx");
  const struct stat untouched = Stat(word.file);
  links.Finish();
  EXPECT_NE(Stat(word.file).st_ino, untouched.st_ino) << "written when the enumeration ended";

  SetPathAt(*document, 1, u"F:\\old\\data.xlsx");  // a second enumeration builds on the first
  EXPECT_EQ(LinkPaths(*document),
            (std::vector<std::u16string>{u"E:\\Data\\plan a.xlsx", u"F:\\old\\data.xlsx",
                                         u"D:\\Data\\footer.docx"}));
  EXPECT_EQ(LinkPaths(word.file), LinkPaths(*document));
}

TEST(Rewrite, AnEnumerationLeftBeforeItsEndWritesNothing) {
  WordDocument word;
  const std::string before = ReadBytes(word.file);
  auto server = CreateBuiltinDocumentServer();
  {
    std::unique_ptr<Document> document = server->Open(U16(word.file.string()));
    EnumeratedLinks links(*document);
    links[0].SetPath(u"D:\\Data\\plan a.xlsx");
    links[2].SetPath(u"D:\\Data\\footer.docx");
  }
  EXPECT_EQ(ReadBytes(word.file), before);
}

TEST(Rewrite, ReplacesASymlinksTargetKeepingItsModeButLeavesItForTheSamePath) {
  WordDocument word;
  fs::path alias = word.folder / "alias.docx";
  fs::create_symlink("letter.docx", alias);
  fs::permissions(word.file, fs::perms(0640));
  struct stat before {
  }, after{};
  ::stat(word.file.c_str(), &before);

  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(alias.string()));
  SetPathAt(*document, 0, u"C:\\Data\\plan a.xlsx");
  ::stat(word.file.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the same path changes nothing";
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  SetPathAt(*document, 0, u"D:\\Data\\plan a.xlsx");
  ::stat(word.file.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino) << "replaced by a new file";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(fs::read_symlink(alias), "letter.docx");
  EXPECT_EQ(FolderListing(word.folder.path()),
            (std::vector<std::string>{"alias.docx", "letter.docx"}));
  EXPECT_EQ(LinkPaths(word.file).at(0), u"D:\\Data\\plan a.xlsx");
  EXPECT_EQ(document->FullName(), U16(alias.string()));
}

// UTF-16 little-endian with its byte order mark, as a few producers write parts.
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += {c, '\0'};
  return out;
}

TEST(Rewrite, APartInUtf16StaysUtf16WithTheLinkMovedAndTheOtherLinkKept) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  auto rels = [](const std::string& first) {
    std::string text = Rels(Hyperlink("rId1", first) + Hyperlink("rId2", "\\\\srv1\\p\\b.xlsx"));
    text.replace(text.find("UTF-8"), 5, "UTF-16");
    return Utf16(text);
  };
  WritePackage(file, DocxWith({{"word/_rels/document.xml.rels", rels("C:\\Data\\a.xlsx")}}));

  ASSERT_EQ(SetFirstLink(file, u"D:\\Moved\\a.xlsx"), 0);
  EXPECT_EQ(LinkPaths(file),
            (std::vector<std::u16string>{u"D:\\Moved\\a.xlsx", u"\\\\srv1\\p\\b.xlsx"}));
  const std::string part = ReadEntries(file, false).back().bytes;
  EXPECT_TRUE(part.starts_with("\xFF\xFE<\0?\0x\0m\0l\0")) << "still UTF-16 with its mark";
  EXPECT_NE(part.find(Utf16("D:\\Moved\\a.xlsx").substr(2)), std::string::npos);
  EXPECT_NE(part.find(Utf16("\\\\srv1\\p\\b.xlsx").substr(2)), std::string::npos);
}

// An ACL granting one more user read access, in the kernel's xattr form.
std::string AclGranting(std::uint32_t user) {
  std::string acl;
  auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(2, 4);  // version
  const std::uint32_t kNone = 0xFFFFFFFF;
  for (auto [tag, perm, id] :
       {std::tuple{1u, 6u, kNone}, std::tuple{2u, 4u, user}, std::tuple{4u, 4u, kNone},
        std::tuple{0x10u, 4u, kNone}, std::tuple{0x20u, 0u, kNone}}) {
    put(tag, 2);
    put(perm, 2);
    put(id, 4);
  }
  return acl;
}

TEST(Rewrite, KeepsOwnerGroupModeAccessListAndExtendedAttributesOfTheReplacedFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
  WordDocument word;
  const std::string acl = AclGranting(4321);
  ASSERT_EQ(::chown(word.file.c_str(), 1234, 5678), 0);
  ASSERT_EQ(::chmod(word.file.c_str(), 0640), 0);
  ASSERT_EQ(::setxattr(word.file.c_str(), "user.origin", "share-7", 7, 0), 0);
  if (::setxattr(word.file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "no access lists on this file system";
  }
  const struct stat before = Stat(word.file);

  ASSERT_EQ(SetFirstLink(word.file, u"D:\\Data\\plan a.xlsx"), 0);
  const struct stat after = Stat(word.file);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, 1234u);
  EXPECT_EQ(after.st_gid, 5678u);
  EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
  char value[64] = {};
  EXPECT_EQ(::getxattr(word.file.c_str(), "user.origin", value, sizeof value), 7);
  EXPECT_STREQ(value, "share-7");
  std::string kept(acl.size() + 16, '\0');
  const ssize_t n =
      ::getxattr(word.file.c_str(), "system.posix_acl_access", kept.data(), kept.size());
  ASSERT_GT(n, 0);
  kept.resize(static_cast<std::size_t>(n));
  EXPECT_TRUE(kept == acl);
}

}  // namespace
}  // namespace quavelle::docserver::testing
