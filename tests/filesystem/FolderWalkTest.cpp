#include <sys/vfs.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TempTree.h"
#include "core/LinkRetargeting.h"
#include "services/filesystem/DirectoryStamp.h"
#include "services/filesystem/ListingInodes.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

namespace quavelle {
namespace {

using testing::SortedPaths;
using testing::TempTree;
using Paths = std::vector<std::u16string>;

class RecordingDocumentServer final : public DocumentServer, public ResultsList {
 public:
  struct NoLinks final : Document {
    std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
    std::u16string FullName() override { return {}; }
  };
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    opened.push_back(path);
    return std::make_unique<NoLinks>();
  }
  void Clear() override {}
  void AppendRow(const std::u16string&, const std::u16string&, const std::u16string&) override {}
  Paths opened;
};

Paths Walk(const std::u16string& folder) {
  RecordingDocumentServer server;
  auto fso = CreateLocalFileSystem();
  auto visited = CreateLocalWalkGuard();
  RunContext ctx{u"C:", u"D:", server, *fso, server, *visited};
  ProcessFolder(ctx, folder);
  return server.opened;
}

TEST(FolderWalk, LinkLoopsEndAndAFolderReachedTwiceIsWalkedOnce) {
  TempTree tree;
  tree.Folder("sub");
  tree.File("sub/y.doc");
  tree.Symlink("..", "sub/back");
  tree.Folder("shared");
  tree.File("shared/s.doc");
  tree.Symlink("../shared", "sub/alias");
  for (const Paths& opened : {Walk(tree.Text()), Walk(tree.Text("sub/back"))}) {
    ASSERT_EQ(opened.size(), 2u);  // entered through the loop's own link as well
    EXPECT_NE(opened[0].ends_with(u"/s.doc"), opened[1].ends_with(u"/s.doc"));
  }
}

// Files come before subfolders, so "first" meets the file before its links and
// "second" meets the links first. The names check the guard finds them on disk.
TEST(FolderWalk, FileReachedThroughHardAndSymbolicLinksIsOpenedOnceInEitherOrder) {
  TempTree tree;
  for (const char* folder : {"first", "first/z", "second", "second/z"}) tree.Folder(folder);
  tree.File("first/caf\xE9.doc");
  tree.HardLink("first/caf\xE9.doc", "first/z/hard\xFF.doc");
  tree.Symlink("../caf\xE9.doc", "first/z/soft.doc");
  tree.File("second/z/caf\xE9.doc");
  tree.Symlink("z/caf\xE9.doc", "second/soft.doc");
  tree.HardLink("second/z/caf\xE9.doc", "second/hard\xFF.doc");
  EXPECT_EQ(Walk(tree.Text("first")).size(), 1u);
  EXPECT_EQ(Walk(tree.Text("second")).size(), 1u);
}

// Whatever changed between a folder's files and subfolders listings must show
// as a fresh read would show it.
TEST(Folder, SubfoldersListedAfterTheFilesShowChangesMadeInBetween) {
  TempTree tree;
  const char* folders[] = {"same", "grown", "linked"};
  for (const char* folder : folders) tree.Folder(folder);
  tree.Folder("same/x");
  for (const char* file : {"same/a.doc", "grown/a.doc", "target"}) tree.File(file);
  tree.Symlink("../target", "linked/link");
  // Once every folder's stamp is settled, the files listing leaves what it
  // passed over for the subfolders listing.
  struct statfs fs {};
  ASSERT_EQ(::statfs(tree.Native().c_str(), &fs), 0);
  const auto settled = [&](const char* folder) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    return SettledStamp(*StampOfPath(tree.Native(folder)), fs.f_type, seconds.count(),
                        std::chrono::nanoseconds(now - seconds).count())
        .has_value();
  };
  for (int tries = 0; tries < 60 && !std::all_of(folders, std::end(folders), settled); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!std::all_of(folders, std::end(folders), settled)) GTEST_SKIP() << "times never settle";

  auto fso = CreateLocalFileSystem();
  std::vector<std::unique_ptr<Folder>> listed;
  for (const char* folder : folders) {
    listed.push_back(fso->GetFolder(tree.Text(folder)));
    SortedPaths(*listed.back()->Files());
  }
  tree.Folder("grown/new");
  std::filesystem::remove(tree.Native("target"));
  tree.Folder("target");  // the link, listed as a file, now names a folder; its own did not change

  EXPECT_EQ(SortedPaths(*listed[0]->subfolders()), Paths{tree.Text("same/x")});
  EXPECT_EQ(SortedPaths(*listed[1]->subfolders()), Paths{tree.Text("grown/new")});
  EXPECT_EQ(SortedPaths(*listed[2]->subfolders()), Paths{tree.Text("linked/link")});
  tree.Folder("same/z");  // a second listing reads the directory again
  EXPECT_EQ(SortedPaths(*listed[0]->subfolders()),
            (Paths{tree.Text("same/x"), tree.Text("same/z")}));
}

// The rules both shortcuts rest on; a wrong answer shows on disk only in rare
// timings or on other file systems.
TEST(ListingShortcuts, AreTakenOnlyOnKnownLocalFileSystemsAndForSettledTimes) {
  constexpr std::int64_t kExt4 = 0xEF53, kNfs = 0x6969;
  EXPECT_TRUE(ListingInodeIsFileInode(kExt4));
  EXPECT_FALSE(ListingInodeIsFileInode(kNfs));
  EXPECT_FALSE(ListingInodeIsFileInode(0x794C7630));  // overlay
  const struct {
    std::int64_t modified, modifiedNs, changed, changedNs, magic;
    bool settled;
  } table[] = {{999, 949'999'999, 999, 1, kExt4, true}, {999, 950'000'000, 999, 1, kExt4, false},
               {900, 1, 1000, 0, kExt4, false},         {998, 0, 998, 0, kExt4, true},
               {999, 0, 998, 0, kExt4, false},          {10, 1, 10, 1, kNfs, false}};
  for (const auto& c : table) {
    const DirectoryStamp stamp{1, 2, c.modified, c.modifiedNs, c.changed, c.changedNs};
    const auto settled = SettledStamp(stamp, c.magic, 1000, 50'000'000);  // now is 1000.05 s
    EXPECT_EQ(settled, c.settled ? std::optional(stamp) : std::nullopt) << c.modified;
  }
}

}  // namespace
}  // namespace quavelle
