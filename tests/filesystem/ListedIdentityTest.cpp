#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

#include "TempTree.h"
#include "services/Text.h"
#include "services/filesystem/ListingInodes.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"
#include "services/filesystem/MountPointFolders.h"

namespace quavelle {
namespace {

using testing::TempTree;

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

INSTANTIATE_TEST_SUITE_P(
    Table, ListingInodes,
    ::testing::Values(
        FileSystemCase{0xEF53, "ext4", true}, FileSystemCase{0xEF53, "ext2", true},
        FileSystemCase{0x58465342, "xfs", true}, FileSystemCase{0x9123683E, "btrfs", true},
        FileSystemCase{0x01021994, "tmpfs", true}, FileSystemCase{0xF2F52010, "f2fs", true},
        FileSystemCase{0x794C7630, "overlay", false}, FileSystemCase{0x6969, "nfs4", false},
        FileSystemCase{0xFF534D42, "cifs", false}, FileSystemCase{0x65735546, "fuse.sshfs", false},
        FileSystemCase{0x858458F6, "ramfs", false}, FileSystemCase{0, "", false}));

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

TEST(MountPointFolders, KnowsTheFolderHoldingThisProcesssRoot) {
  const MountPointFolders folders = MountPointFolders::Read();
  if (!folders.Known()) GTEST_SKIP() << "no mount table to read";
  TempTree tree;
  struct stat st {};
  ASSERT_EQ(::stat(tree.Root().c_str(), &st), 0);
  EXPECT_FALSE(folders.Holds(st.st_dev, st.st_ino));
}

// The walk asks about each file right after the listing hands it out; any
// other path must be looked up for itself, never given the listed entry's identity.
TEST(WalkGuard, PathOtherThanTheLastListedFileGetsItsOwnIdentity) {
  TempTree tree;
  tree.File("a.doc");
  tree.File("b.doc");
  tree.Folder("sub");
  auto fso = CreateLocalFileSystem();
  auto guard = CreateLocalWalkGuard();
  auto files = fso->GetFolder(tree.Text())->Files();
  auto each = files->NewEnum();
  const std::u16string listed = each->Next()->Path();
  const std::u16string other =
      listed == tree.Text("a.doc") ? tree.Text("b.doc") : tree.Text("a.doc");

  EXPECT_TRUE(guard->FirstVisit(other));
  EXPECT_TRUE(guard->FirstVisit(tree.Text("sub")));
  EXPECT_TRUE(guard->FirstVisit(listed));
  EXPECT_FALSE(guard->FirstVisit(other));
  EXPECT_FALSE(guard->FirstVisit(listed));
}

// The listing's record outlives neither the listing nor a change of what the path names.
TEST(WalkGuard, FileReplacedAfterItsListingEndedIsLookedUpAgain) {
  TempTree tree;
  tree.File("a.doc");
  tree.File("b.doc");
  auto fso = CreateLocalFileSystem();
  std::u16string listed;
  {
    auto files = fso->GetFolder(tree.Text())->Files();
    listed = files->NewEnum()->Next()->Path();
  }
  const std::string other = listed == tree.Text("a.doc") ? "b.doc" : "a.doc";
  tree.HardLink(other, "keep.doc");
  ASSERT_EQ(::rename(tree.Native(other).c_str(), TextToNativePath(listed).c_str()), 0);

  auto guard = CreateLocalWalkGuard();
  EXPECT_TRUE(guard->FirstVisit(tree.Text("keep.doc")));
  EXPECT_FALSE(guard->FirstVisit(listed));  // now the same file as keep.doc
}

}  // namespace
}  // namespace quavelle
