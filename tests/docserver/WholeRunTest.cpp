#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "PackageFixture.h"
#include "PdfObjects.h"
#include "core/LinkRetargeting.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

// Runs over real trees with the real services: the folder walk, the local
// file system and the built-in document server.
namespace quavelle::docserver::testing {
namespace {

namespace number = quavelle::docserver::error_number;
using Clock = std::chrono::steady_clock;

struct Rows : ResultsList {
  std::vector<std::u16string> listed;  // "old -> new in container"
  void Clear() override { listed.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& container) override {
    listed.push_back(oldPath + u" -> " + newPath + u" in " + container);
  }
};

// ProcessFolder over folder from \\srv1 to \\srv2; the failure's number, or 0.
std::int32_t RunOver(const fs::path& folder, Rows& rows, ServerOptions options = {},
                     std::u16string* description = nullptr) {
  auto server = CreateBuiltinDocumentServer(std::move(options));
  auto files = CreateLocalFileSystem();
  auto visited = CreateLocalWalkGuard();
  RunContext ctx{u"\\\\srv1", u"\\\\srv2", *server, *files, rows, *visited};
  try {
    ProcessFolder(ctx, U16(folder.string()));
  } catch (const ServiceError& failure) {
    if (description != nullptr) *description = failure.description();
    return failure.number();
  }
  return 0;
}

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// A word-processing package with links to \\srv1 in two parts, and filler.
std::vector<Entry> ThreeLinks(const std::string& name, std::string filler = "") {
  std::vector<Entry> entries =
      DocxWith({{"word/_rels/document.xml.rels",
                 Rels(Hyperlink("rId1", "\\\\srv1\\proj\\" + name + "-a.xlsx") +
                      Hyperlink("rId2", "file://srv1/proj/" + name + "-b.docx"))},
                {"word/_rels/footer1.xml.rels",
                 Rels(Hyperlink("rId1", "\\\\srv1\\proj\\" + name + ".pptx"))}});
  if (!filler.empty()) entries.push_back({"word/media/filler.bin", std::move(filler), true});
  return entries;
}

// The documents after the current one are read ahead; none of that may show.
TEST(WholeRun, ADamagedDocumentStopsTheRunInWalkOrderWithNothingAfterItChanged) {
  TempFolder folder;
  std::vector<std::string> walkOrder;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "doc" + std::to_string(i) + (i % 2 ? ".docx" : ".xlsx");
    WritePackage(folder / name, ThreeLinks(std::to_string(i)));
  }
  for (const auto& item : fs::directory_iterator(folder.path())) {
    walkOrder.push_back(item.path().filename());
  }
  const auto damaged = walkOrder.begin() + 6;
  std::ofstream(folder / *damaged, std::ios::binary) << "PK\3\4 not really";
  std::map<std::string, std::string> before;
  for (const std::string& name : walkOrder) before[name] = ReadBytes(folder / name);

  Rows rows;
  std::u16string description;
  ServerOptions readingAhead;
  readingAhead.readAheadEverywhere = true;
  EXPECT_EQ(RunOver(folder.path(), rows, readingAhead, &description), number::kDamagedPackage);
  EXPECT_NE(description.find(U16(*damaged)), std::u16string::npos);
  std::vector<std::u16string> expected;
  for (auto name = walkOrder.begin(); name != damaged; ++name) {
    for (const std::u16string& path : LinkPaths(folder / *name)) {
      expected.push_back(U16("\\\\srv1") + path.substr(6) + u" -> " + path + u" in " +
                         U16((folder / *name).string()));
    }
  }
  EXPECT_EQ(rows.listed, expected) << "rows in walk order, all before the damaged document";
  for (auto name = damaged; name != walkOrder.end(); ++name) {
    EXPECT_TRUE(ReadBytes(folder / *name) == before[*name]) << *name;
  }
}

// A shortcut of each kind and a PDF, each with one link to \\srv1.
void AddLinkFiles(const fs::path& folder) {
  std::ofstream(folder / "links.url", std::ios::binary)
      << "[InternetShortcut]\r\nURL=file://srv1/proj/u.pdf\r\n";
  std::ofstream(folder / "drawing.pdf", std::ios::binary)
      << OnePagePdf("", "4 0 R", {LinkAnnotation("<< /S /Launch /F (//srv1/proj/p.docx) >>")});
  fs::copy_file(fs::path(QUAVELLE_SHORTCUT_FIXTURES) / "shell-share.lnk", folder / "plan.lnk");
}

TEST(WholeRun, EveryKindOfDocumentIsRepointedAndOwnerEmptyAndOtherFilesPassedOver) {
  TempFolder folder;
  // What an office suite leaves beside an open document: a length, the user's name.
  std::string owner =
      "\x05"
      "alice" +
      std::string(54 - 6, ' ');
  owner += std::string("\x05\x00", 2) + std::string("a\0l\0i\0c\0e\0", 10);
  owner.resize(162, '\0');
  { std::ofstream(folder / "~$report.docx", std::ios::binary) << owner; }
  { std::ofstream(folder / "~$sheet.xlsx", std::ios::binary) << "x"; }
  { std::ofstream(folder / "new.docx"); }
  { std::ofstream(folder / "new.odt"); }
  fs::create_directory(folder / "z");
  WritePackage(folder / "z" / "report.docx", ThreeLinks("r"));
  AddLinkFiles(folder.path());
  // Saved under a binary office name, but no compound file.
  std::ofstream(folder / "notes.doc") << "{\\rtf1\\ansi {\\field{\\*\\fldinst HYPERLINK x}}}";
  std::ofstream(folder / "export.xls") << "<html><body><table><tr><td>1</td></tr></table>";

  Rows rows;
  std::u16string description;
  const std::size_t openBefore = OpenDescriptors();
  ASSERT_EQ(RunOver(folder.path(), rows, {}, &description), 0) << ToUtf8(description);
  // Documents are closed on a thread of the server's: all of them by the time it is gone.
  EXPECT_EQ(OpenDescriptors(), openBefore);
  EXPECT_EQ(rows.listed.size(), 6u);
  for (const char* name : {"z/report.docx", "links.url", "drawing.pdf", "plan.lnk"}) {
    const std::vector<std::u16string> paths = LinkPaths(folder / name);
    ASSERT_FALSE(paths.empty()) << name;
    for (const std::u16string& path : paths) {
      EXPECT_TRUE(path.starts_with(u"\\\\srv2\\proj\\")) << name << ": " << ToUtf8(path);
    }
  }
  EXPECT_EQ(LinkPaths(folder / "z" / "report.docx"),
            (std::vector<std::u16string>{u"\\\\srv2\\proj\\r-a.xlsx", u"\\\\srv2\\proj\\r-b.docx",
                                         u"\\\\srv2\\proj\\r.pptx"}));
  EXPECT_TRUE(LinkPaths(folder / "notes.doc").empty());
  EXPECT_TRUE(ReadBytes(folder / "~$report.docx") == owner);
  EXPECT_EQ(fs::file_size(folder / "new.docx"), 0u);

  // An owner-file name does not make a damaged package readable.
  WritePackage(folder / "~$real.docx", ThreeLinks("o"));
  std::string bytes = ReadBytes(folder / "~$real.docx");
  { std::ofstream(folder / "~$real.docx", std::ios::binary) << bytes.substr(0, bytes.size() / 2); }
  EXPECT_EQ(RunOver(folder.path(), rows), number::kDamagedPackage);
}

TEST(WholeRun, AFailedWriteLeavesThatDocumentUnchangedUnlistedAndNamedInTheError) {
  TempFolder folder;
  const std::vector<fs::path> files = {folder / "a" / "one.docx", folder / "b" / "two.docx"};
  std::vector<std::string> before;
  for (const fs::path& file : files) {
    fs::create_directory(file.parent_path());
    WritePackage(file, ThreeLinks(file.stem()));
    before.push_back(ReadBytes(file));
  }
  int replaced = 0;
  ServerOptions options;
  options.faultHook = [&](ReplaceStep step) {
    if (step == ReplaceStep::Rename) ++replaced;
    return step == ReplaceStep::Write && replaced == 1 ? ENOSPC : 0;  // the second document
  };

  Rows rows;
  std::u16string description;
  EXPECT_EQ(RunOver(folder.path(), rows, options, &description), number::kDiskFull);
  ASSERT_EQ(rows.listed.size(), 3u) << "the rows of the document that was written, only";
  const std::size_t written = rows.listed[0].ends_with(U16(files[0].string())) ? 0 : 1;
  for (const std::u16string& row : rows.listed) {
    EXPECT_TRUE(row.ends_with(U16(files[written].string()))) << ToUtf8(row);
  }
  const fs::path& failed = files[1 - written];
  EXPECT_NE(description.find(U16(failed.string())), std::u16string::npos) << ToUtf8(description);
  EXPECT_TRUE(ReadBytes(failed) == before[1 - written]);
  EXPECT_FALSE(ReadBytes(files[written]) == before[written]);
  EXPECT_EQ(FolderListing(failed.parent_path()), std::vector<std::string>{failed.filename()});
}

TEST(WholeRun, ALinkRefusedAfterOthersWereRepointedLeavesTheDocumentAsItWas) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(file, ThreeLinks("x"));
  const std::string before = ReadBytes(file);
  auto server = CreateBuiltinDocumentServer();
  {
    std::unique_ptr<Document> document = server->Open(U16(file.string()));
    EnumeratedLinks links(*document);
    links[0].SetPath(u"\\\\srv2\\proj\\x-a.xlsx");
    links[1].SetPath(u"\\\\srv2\\proj\\x-b.docx");
    EXPECT_EQ(ErrorNumber([&] { links[2].SetPath(u""); }), number::kInvalidArgument);
  }  // the failure abandons the enumeration
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{"a.docx"});
}

TEST(WholeRun, AFolderFlushFailingAfterTheRenameSaysTheDocumentChangedAndTheServerGoesOnFromIt) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(file, ThreeLinks("x"));
  bool failing = true;
  ServerOptions options;
  options.faultHook = [&](ReplaceStep step) {
    return failing && step == ReplaceStep::FolderSync ? EIO : 0;
  };
  auto server = CreateBuiltinDocumentServer(options);
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  EnumeratedLinks links(*document);
  links[0].SetPath(u"\\\\srv2\\proj\\x-a.xlsx");
  const auto failure = quavelle::testing::CaughtError([&] { links.Finish(); });
  EXPECT_TRUE(
      quavelle::testing::IsErrorNaming(failure, number::kPathFileAccessError, U16(file.string())));
  ASSERT_TRUE(failure);
  EXPECT_NE(ToUtf8(failure->description()).find("were re-pointed"), std::string::npos);
  EXPECT_EQ(LinkPaths(file).at(0), u"\\\\srv2\\proj\\x-a.xlsx");

  failing = false;  // the document goes on from the file now on disk
  SetPathAt(*document, 2, u"\\\\srv2\\proj\\x.pptx");
  EXPECT_EQ(LinkPaths(file),
            (std::vector<std::u16string>{u"\\\\srv2\\proj\\x-a.xlsx", u"\\\\srv1\\proj\\x-b.docx",
                                         u"\\\\srv2\\proj\\x.pptx"}));
  EXPECT_EQ(LinkPaths(*document), LinkPaths(file));
}

// A run killed at any moment leaves each document entirely as it was or
// entirely re-pointed: never some links moved and others not.
TEST(WholeRun, AKillAtAnyMomentLeavesEachDocumentEntirelyOldOrEntirelyNew) {
  constexpr int kDocuments = 6;
  constexpr int kKills = 20;
  TempFolder scratch;
  const fs::path originals = scratch / "originals";
  const fs::path tree = scratch / "tree";
  fs::create_directories(originals);
  std::mt19937 random(20261207);
  std::vector<std::string> names;
  for (int i = 0; i < kDocuments; ++i) {
    std::string filler(4 << 20, '\0');
    for (char& c : filler) c = static_cast<char>(random());
    names.push_back("doc" + std::to_string(i) + ".docx");
    WritePackage(originals / names.back(), ThreeLinks("d" + std::to_string(i), filler));
  }
  // One of every other kind that a run rewrites, each with a link to \\srv1.
  const fs::path fixtures(QUAVELLE_DOCSERVER_FIXTURES);
  fs::copy_file(fixtures / "sheet.xls", originals / "sheet.xls");
  fs::copy_file(fixtures / "text.doc", originals / "text.doc");
  AddLinkFiles(originals);
  const std::vector<std::string> others = {"sheet.xls", "text.doc", "plan.lnk", "drawing.pdf",
                                           "links.url"};
  const std::vector<RawEntry> original = ReadEntries(originals / names[0]);
  auto restore = [&] {
    fs::remove_all(tree);
    fs::copy(originals, tree);
  };

  restore();
  const auto start = Clock::now();
  Rows rows;
  ASSERT_EQ(RunOver(tree, rows), 0);
  ASSERT_EQ(rows.listed.size(), 3u * kDocuments + others.size());
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);

  int roundsWithBoth = 0;
  for (int round = 0; round < kKills; ++round) {
    restore();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Rows childRows;
      ::_exit(RunOver(tree, childRows) == 0 ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (whole.count() + 1)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    int moved = 0;
    for (int i = 0; i < kDocuments; ++i) {
      const fs::path file = tree / names[i];
      const std::vector<std::u16string> paths = LinkPaths(file);
      ASSERT_EQ(paths.size(), 3u) << names[i] << " round " << round;
      int onNew = 0;
      for (const std::u16string& path : paths) onNew += path.starts_with(u"\\\\srv2");
      EXPECT_TRUE(onNew == 0 || onNew == 3) << names[i] << " round " << round << ": " << onNew;
      moved += onNew == 3;
      // Every entry reads back whole, and the filler is untouched.
      const std::vector<RawEntry> entries = ReadEntries(file, false);
      ASSERT_EQ(entries.size(), original.size()) << names[i];
      EXPECT_TRUE(entries.back().bytes == ReadEntries(originals / names[i], false).back().bytes);
    }
    for (const std::string& name : others) {
      int onOld = 0, onNew = 0;
      for (const std::u16string& path : LinkPaths(tree / name)) {  // reads it whole
        onOld += path.starts_with(u"\\\\srv1");
        onNew += path.starts_with(u"\\\\srv2");
      }
      EXPECT_EQ(onOld + onNew, 1) << name << " round " << round;
    }
    roundsWithBoth += moved > 0 && moved < kDocuments;
  }
  // Otherwise the kills all fell before or after the writes, and proved nothing.
  EXPECT_GT(roundsWithBoth, 0);
}

}  // namespace
}  // namespace quavelle::docserver::testing
