#include <sys/vfs.h>
#include <time.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "TempTree.h"
#include "services/Text.h"
#include "services/filesystem/DirectoryStamp.h"
#include "services/filesystem/IdentitySet.h"
#include "services/filesystem/ListingInodes.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"
#include "services/filesystem/MountPointFolders.h"
#include "services/filesystem/NativeText.h"

// The shortcuts the listing and the guard take, each with its decision rule
// and a case on disk where taking it wrongly gives a wrong answer, and the
// guard's identity table and name conversion fast path.
namespace quavelle {
namespace {

using testing::SortedPaths;
using testing::TempTree;
using Paths = std::vector<std::u16string>;

TEST(ListingInodes, AreBelievedOnlyOnKnownLocalFileSystems) {
  const struct {
    std::int64_t magic;
    const char* name;
    bool believed;
  } table[] = {{0xEF53, "ext4", true},
               {0x58465342, "xfs", true},
               {0x01021994, "tmpfs", true},
               {0x794C7630, "overlay", false},
               {0x6969, "nfs4", false},
               {0x65735546, "fuse.sshfs", false},
               {0, "", false}};
  for (const auto& row : table) {
    EXPECT_EQ(ListingInodeIsFileInode(row.magic), row.believed) << row.name;
    EXPECT_EQ(ListingInodeIsFileInode(std::string_view(row.name)), row.believed) << row.name;
  }
}

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
  std::filesystem::rename(tree.Native("c.doc"), TextToNativePath(listed));
  auto guard = CreateLocalWalkGuard();
  EXPECT_TRUE(guard->FirstVisit(tree.Text("keep.doc")));
  EXPECT_FALSE(guard->FirstVisit(listed));  // now the same file as keep.doc
}

// Paths whose identity cannot be read count as new: the service then reports
// the real failure, where passing them over would hide it.
TEST(WalkGuard, PathsWhoseIdentityCannotBeReadAlwaysCountAsNew) {
  TempTree tree;
  tree.Symlink("loop", "loop");
  auto guard = CreateLocalWalkGuard();
  ASSERT_TRUE(guard->FirstVisit(tree.Text()));
  std::u16string withNul = tree.Text();
  withNul += u'\0';  // not the folder before the NUL
  for (int round = 0; round < 2; ++round) {
    for (const std::u16string& path : {tree.Text("missing"), tree.Text("loop"), withNul}) {
      EXPECT_TRUE(guard->FirstVisit(path)) << ToUtf8(path);
    }
  }
}

TEST(SettledStamp, OnlyTimesOlderThanTheClocksGrainOnAKnownLocalFileSystemAreSettled) {
  constexpr std::int64_t kExt4 = 0xEF53, kMax = std::numeric_limits<std::int64_t>::max(),
                         kMin = std::numeric_limits<std::int64_t>::min();
  const struct {
    const char* what;
    std::int64_t modified, modifiedNs, changed, changedNs, magic;
    bool settled;
  } table[] = {{"old", 990, 1, 990, 1, kExt4, true},
               {"just older than a tenth", 999, 949'999'999, 999, 1, kExt4, true},
               {"a tenth exactly", 999, 950'000'000, 999, 1, kExt4, false},
               {"changed lately", 900, 1, 1000, 0, kExt4, false},
               {"whole seconds, older than two", 998, 0, 998, 0, kExt4, true},
               {"whole seconds, two ago", 999, 0, 998, 0, kExt4, false},
               {"far future", kMax, 999'999'999, 1, 1, kExt4, false},
               {"far past", kMin, 1, kMin, 1, kExt4, true},
               {"network", 10, 1, 10, 1, 0x6969, false},
               {"unknown type", 10, 1, 10, 1, 0, false}};
  for (const auto& c : table) {
    const DirectoryStamp stamp{1, 2, c.modified, c.modifiedNs, c.changed, c.changedNs};
    const auto settled = SettledStamp(stamp, c.magic, 1000, 50'000'000);  // now is 1000.05 s
    EXPECT_EQ(settled, c.settled ? std::optional(stamp) : std::nullopt) << c.what;
  }
}

// True once every folder's stamp is settled (within three seconds), so that a
// files listing started then leaves what it passed over for the subfolders listing.
bool WaitUntilSettled(const TempTree& tree, const std::vector<const char*>& folders) {
  struct statfs fs {};
  if (::statfs(tree.Root().c_str(), &fs) != 0) return false;
  for (int tries = 0; tries < 60; ++tries) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto settled = [&](const char* folder) {
      const auto stamp = StampOfPath(tree.Native(folder));
      return stamp &&
             SettledStamp(*stamp, static_cast<std::uint32_t>(fs.f_type), now.tv_sec, now.tv_nsec);
    };
    if (std::all_of(folders.begin(), folders.end(), settled)) return true;
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
  std::filesystem::rename(tree.Native("swapped/old"), tree.Native("swapped/renamed"));
  std::filesystem::remove(tree.Native("target"));
  tree.Folder("target");  // the link, listed as a file, now names a folder; its own did not change
  std::filesystem::rename(tree.Native("moved"), tree.Native("was-moved"));
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

TEST(IdentitySet, KeepsEveryPairThroughGrowthAndTellsPairsApartByBothHalves) {
  IdentitySet set;
  constexpr std::uint64_t kCount = 50000;  // many times the first table
  for (int round = 0; round < 2; ++round) {
    for (std::uint64_t i = 0; i < kCount; ++i) ASSERT_EQ(set.Insert(i % 3 + 1, i), round == 0) << i;
  }
  EXPECT_TRUE(set.Insert(7, 1));  // same inode, another device
  EXPECT_TRUE(set.Insert(0, 0));  // the pair a free slot looks like
  EXPECT_FALSE(set.Insert(0, 0));
  EXPECT_TRUE(set.Insert(~std::uint64_t{0}, ~std::uint64_t{0}));
  EXPECT_EQ(set.size(), kCount + 3);
}

// Every length up to three blocks of four units, with one unit swapped in at
// every position: the fast path checks units four at a time.
TEST(TextToNativePathExactly, AgreesWithTheFullConversionWhereverAnOddUnitStands) {
  const std::pair<char16_t, bool> table[] = {
      {u'\0', false},    {u'\x01', true},   {u'\x7F', true},    {u'\x80', true},   {u'\x100', true},
      {u'\x4100', true}, {u'\xDCE9', true}, {u'\xDFFF', false}, {u'\xD800', false}};
  for (const auto& [unit, hasNativeForm] : table) {
    for (std::size_t length = 1; length <= 12; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        std::u16string text(length, u'a');
        text[at] = unit;
        std::string native;
        const bool converted = TextToNativePathExactly(text, native);
        EXPECT_EQ(converted, hasNativeForm) << int(unit) << " " << length << " " << at;
        if (converted) {
          EXPECT_EQ(native, TextToNativePath(text)) << int(unit) << " " << length << " " << at;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quavelle
