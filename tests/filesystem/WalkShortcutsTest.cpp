#include <sys/vfs.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "TempTree.h"
#include "services/Text.h"
#include "services/filesystem/DirectoryStamp.h"
#include "services/filesystem/ListingInodes.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"
#include "services/filesystem/MountPointFolders.h"

// The shortcuts the listing and the guard take, each with its decision rule
// and a case on disk where taking it wrongly gives a wrong answer.
namespace quavelle {
namespace {

using testing::SortedPaths;
using testing::TempTree;
using Paths = std::vector<std::u16string>;

struct FileSystemCase {
  std::int64_t magic;
  const char* name;
  bool listingInodeIsFileInode;
};

class ListingInodes : public ::testing::TestWithParam<FileSystemCase> {};

TEST_P(ListingInodes, AreBelievedOnlyOnKnownLocalFileSystems) {
  EXPECT_EQ(ListingInodeIsFileInode(GetParam().magic), GetParam().listingInodeIsFileInode);
  EXPECT_EQ(ListingInodeIsFileInode(std::string_view(GetParam().name)),
            GetParam().listingInodeIsFileInode);
}

INSTANTIATE_TEST_SUITE_P(Table, ListingInodes,
                         ::testing::Values(FileSystemCase{0xEF53, "ext4", true},
                                           FileSystemCase{0x58465342, "xfs", true},
                                           FileSystemCase{0x9123683E, "btrfs", true},
                                           FileSystemCase{0x01021994, "tmpfs", true},
                                           FileSystemCase{0x794C7630, "overlay", false},
                                           FileSystemCase{0x6969, "nfs4", false},
                                           FileSystemCase{0xFF534D42, "cifs", false},
                                           FileSystemCase{0x65735546, "fuse.sshfs", false},
                                           FileSystemCase{0, "", false}));

TEST(MountPointsOnListedTypes, KeepsPointsWhoseParentMountIsKnownAndUnescapesTheirNames) {
  const std::string table =
      "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "22 21 0:5 / /proc rw - proc proc rw\n"
      "23 22 0:40 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw\n"
      "24 21 8:1 /srv/a.doc /home/my\\040docs/a.doc rw shared:2 master:1 - ext4 /dev/sda1 rw\n"
      "25 21 0:50 / /mnt/share rw - nfs4 srv:/export rw\n"
      "26 25 0:51 / /mnt/share/inner rw - tmpfs tmpfs rw\n"
      "27 99 0:52 / /outside rw - tmpfs tmpfs rw\n"
      "garbage line\n"
      "28 21 8:1 / /tab\\011and\\134slash rw - xfs /dev/sdb1 rw";
  EXPECT_EQ(
      MountPointsOnListedTypes(table),
      (std::vector<std::string>{"/proc", "/home/my docs/a.doc", "/mnt/share", "/tab\tand\\slash"}));
  EXPECT_TRUE(MountPointsOnListedTypes("").empty());
}

// The guard takes the identity the files listing read for the entry it handed
// out last, for that path only, and only while that listing lives.
TEST(WalkGuard, OnlyTheFileTheLiveListingHandedOutLastGetsTheListedIdentity) {
  TempTree tree;
  tree.File("a.doc");
  tree.File("b.doc");
  auto fso = CreateLocalFileSystem();
  std::u16string listed, other;
  {
    auto guard = CreateLocalWalkGuard();
    auto files = fso->GetFolder(tree.Text())->Files();
    auto each = files->NewEnum();
    listed = each->Next()->Path();
    other = listed == tree.Text("a.doc") ? tree.Text("b.doc") : tree.Text("a.doc");
    EXPECT_TRUE(guard->FirstVisit(other));
    EXPECT_TRUE(guard->FirstVisit(listed));
    EXPECT_FALSE(guard->FirstVisit(other));
  }
  tree.File("c.doc");
  tree.HardLink("c.doc", "keep.doc");
  tree.Rename("c.doc", ToUtf8(listed.substr(listed.rfind(u'/') + 1)));
  auto guard = CreateLocalWalkGuard();
  EXPECT_TRUE(guard->FirstVisit(tree.Text("keep.doc")));
  EXPECT_FALSE(guard->FirstVisit(listed));  // now the same file as keep.doc
}

// Paths whose identity cannot be read count as new: the service then reports
// the real failure, where passing them over would hide it.
TEST(WalkGuard, PathsWhoseIdentityCannotBeReadAlwaysCountAsNew) {
  TempTree tree;
  tree.Symlink("loop", "loop");
  tree.File("\xEF\xBF\xBD");  // what a replaced lone surrogate would turn into
  auto guard = CreateLocalWalkGuard();
  ASSERT_TRUE(guard->FirstVisit(tree.Text()));
  ASSERT_TRUE(guard->FirstVisit(tree.Text("\xEF\xBF\xBD")));
  std::u16string withNul = tree.Text();
  withNul += u'\0';  // not the folder before the NUL
  for (int round = 0; round < 2; ++round) {
    for (const std::u16string& path :
         {tree.Text("missing.doc"), tree.Text("loop"), std::u16string(), withNul,
          tree.Text() + u"/\xDFFF", tree.Text() + u"/\xD800"}) {
      EXPECT_TRUE(guard->FirstVisit(path)) << ToUtf8(path);
    }
  }
}

constexpr std::int64_t kExt4 = 0xEF53;

struct StampCase {
  const char* what;
  std::int64_t modified, modifiedNs, changed, changedNs, magic;
  bool settled;
};

class SettledStampCases : public ::testing::TestWithParam<StampCase> {};

TEST_P(SettledStampCases, OnlyTimesOlderThanTheClocksGrainOnAKnownLocalFileSystemAreSettled) {
  const StampCase& c = GetParam();
  const DirectoryStamp stamp{1, 2, c.modified, c.modifiedNs, c.changed, c.changedNs};
  const auto settled = SettledStamp(stamp, c.magic, 1000, 50'000'000);  // now is 1000.05 s
  EXPECT_EQ(settled.has_value(), c.settled) << c.what;
  if (settled) {
    EXPECT_EQ(*settled, stamp);
  }
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Table, SettledStampCases,
    ::testing::Values(StampCase{"old", 990, 1, 990, 1, kExt4, true},
                      StampCase{"just older than a tenth", 999, 949'999'999, 999, 1, kExt4, true},
                      StampCase{"a tenth exactly", 999, 950'000'000, 999, 1, kExt4, false},
                      StampCase{"changed lately", 900, 1, 1000, 0, kExt4, false},
                      StampCase{"whole seconds, older than two", 998, 0, 998, 0, kExt4, true},
                      StampCase{"whole seconds, two ago", 999, 0, 998, 0, kExt4, false},
                      StampCase{"far future", kMax, 999'999'999, 1, 1, kExt4, false},
                      StampCase{"far past", kMin, 1, kMin, 1, kExt4, true},
                      StampCase{"network", 10, 1, 10, 1, 0x6969, false},
                      StampCase{"unknown type", 10, 1, 10, 1, 0, false}));

// Waits until every folder's stamp is settled, so that a files listing started
// after it leaves what it passed over for the subfolders listing to reuse.
bool WaitUntilSettled(const TempTree& tree, const std::vector<const char*>& folders) {
  for (int tries = 0; tries < 60; ++tries) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    bool all = true;
    for (const char* folder : folders) {
      struct statfs fs {};
      const auto stamp = StampOfPath(tree.Native(folder));
      all = all && stamp && ::statfs(tree.Native(folder).c_str(), &fs) == 0 &&
            SettledStamp(*stamp, static_cast<std::uint32_t>(fs.f_type), seconds.count(),
                         nanoseconds.count());
    }
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Whatever changed between a folder's files and subfolders listings must show
// as a fresh read would show it.
TEST(Folder, SubfoldersListedAfterTheFilesShowChangesMadeInBetween) {
  TempTree tree;
  const std::vector<const char*> folders = {"same", "grown", "swapped", "linked", "moved"};
  for (const char* folder : folders) tree.Folder(folder);
  for (const char* folder : {"same/x", "same/y", "swapped/old", "moved/inner"}) tree.Folder(folder);
  for (const char* file : {"same/a.doc", "grown/a.doc", "swapped/a.doc", "target"}) tree.File(file);
  tree.Symlink("../target", "linked/link");
  if (!WaitUntilSettled(tree, folders)) GTEST_SKIP() << "directory times never settle here";

  auto fso = CreateLocalFileSystem();
  std::vector<std::unique_ptr<Folder>> listed;
  for (const char* folder : folders) {
    listed.push_back(fso->GetFolder(tree.Text(folder)));
    SortedPaths(*listed.back()->Files());  // to the end, as the walk does
  }
  tree.Folder("grown/new");
  tree.Rename("swapped/old", "swapped/renamed");
  std::filesystem::remove(tree.Native("target"));
  tree.Folder("target");  // the link, listed as a file, now names a folder; its own did not change
  tree.Rename("moved", "was-moved");
  tree.Folder("moved");

  EXPECT_EQ(SortedPaths(*listed[0]->subfolders()),
            (Paths{tree.Text("same/x"), tree.Text("same/y")}));
  EXPECT_EQ(SortedPaths(*listed[1]->subfolders()), Paths{tree.Text("grown/new")});
  EXPECT_EQ(SortedPaths(*listed[2]->subfolders()), Paths{tree.Text("swapped/renamed")});
  EXPECT_EQ(SortedPaths(*listed[3]->subfolders()), Paths{tree.Text("linked/link")});
  EXPECT_EQ(SortedPaths(*listed[4]->subfolders()), Paths{});
  // A second listing of the subfolders reads the directory again.
  tree.Folder("same/z");
  EXPECT_EQ(SortedPaths(*listed[0]->subfolders()),
            (Paths{tree.Text("same/x"), tree.Text("same/y"), tree.Text("same/z")}));
}

}  // namespace
}  // namespace quavelle
