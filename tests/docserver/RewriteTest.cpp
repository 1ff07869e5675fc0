#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "PackageFixture.h"
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

TEST(Rewrite, KeepsADoctypeThatOnlyNamesItsDtdByteForByte) {
  TempFolder folder;
  const fs::path file = folder / "formula.odt";
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE math:math PUBLIC \"-//OpenOffice.org//"
      "DTD Modified W3C MathML 1.01//EN\" \"math.dtd\">\n<math:math "
      "xmlns:math=\"http://www.w3.org/1998/Math/MathML\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><math:mi xlink:href=\"";
  const std::string tail = "\">x</math:mi></math:math>";
  WritePackage(file, OdtWith({{"content.xml", head + "file:///C:/Data/a.odt" + tail}}));
  EXPECT_EQ(SetFirstLink(file, u"D:\\Data\\a.odt"), 0);
  EXPECT_EQ(ReadEntries(file, false).at(2).bytes, head + "file:///D:/Data/a.odt" + tail);
}

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

}  // namespace
}  // namespace quavelle::docserver::testing
