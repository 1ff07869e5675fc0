#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

#include "ServiceTestSupport.h"
#include "TempTree.h"
#include "services/filesystem/DirectoryStamp.h"
#include "services/filesystem/LocalFileSystem.h"

namespace quavelle {
namespace {

using testing::SortedPaths;
using testing::TempTree;

constexpr std::int64_t kExt4 = 0xEF53;
constexpr std::int64_t kNfs = 0x6969;

struct StampCase {
  const char* what;
  std::int64_t modified, modifiedNs, changed, changedNs, magic;
  bool settled;
};

class SettledStampCases : public ::testing::TestWithParam<StampCase> {};

// Now is 1000.05 s.
TEST_P(SettledStampCases, OnlyTimesOlderThanTheClocksGrainOnAKnownLocalFileSystemAreSettled) {
  const StampCase& c = GetParam();
  const DirectoryStamp stamp{1, 2, c.modified, c.modifiedNs, c.changed, c.changedNs};
  const std::optional<DirectoryStamp> settled = SettledStamp(stamp, c.magic, 1000, 50'000'000);
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
                      StampCase{"in the future", 2000, 1, 2000, 1, kExt4, false},
                      StampCase{"far future", kMax, 999'999'999, 1, 1, kExt4, false},
                      StampCase{"far past", kMin, 1, kMin, 1, kExt4, true},
                      StampCase{"network", 10, 1, 10, 1, kNfs, false},
                      StampCase{"unknown type", 10, 1, 10, 1, 0, false}));

std::vector<std::u16string> FilesThenSubfolders(Folder& folder) {
  SortedPaths(*folder.Files());  // to the end, as the walk does
  return SortedPaths(*folder.subfolders());
}

// The subfolders listing may reuse what a complete files listing passed over;
// whatever changed in between must show as a fresh read would show it.
TEST(Folder, SubfoldersListedAfterTheFilesShowChangesMadeInBetween) {
  TempTree tree;
  for (const char* folder : {"same", "same/x", "same/y", "grown", "swapped", "swapped/old",
                             "linked", "moved", "moved/inner"}) {
    tree.Folder(folder);
  }
  for (const char* file : {"same/a.doc", "grown/a.doc", "swapped/a.doc", "target"}) {
    tree.File(file);
  }
  tree.Symlink("../target", "linked/link");
  // Directory times within the clock's grain are never taken at their word.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  auto fso = CreateLocalFileSystem();
  auto same = fso->GetFolder(tree.Text("same"));
  auto grown = fso->GetFolder(tree.Text("grown"));
  auto swapped = fso->GetFolder(tree.Text("swapped"));
  auto linked = fso->GetFolder(tree.Text("linked"));
  auto moved = fso->GetFolder(tree.Text("moved"));
  for (Folder* folder : {grown.get(), swapped.get(), linked.get(), moved.get()}) {
    SortedPaths(*folder->Files());
  }
  tree.Folder("grown/new");
  ASSERT_EQ(::rename(tree.Native("swapped/old").c_str(), tree.Native("swapped/renamed").c_str()),
            0);
  ASSERT_EQ(::unlink(tree.Native("target").c_str()), 0);
  tree.Folder("target");  // the link, listed as a file, now names a folder; its own did not change
  ASSERT_EQ(::rename(tree.Native("moved").c_str(), tree.Native("was-moved").c_str()), 0);
  tree.Folder("moved");

  EXPECT_EQ(FilesThenSubfolders(*same),
            (std::vector<std::u16string>{tree.Text("same/x"), tree.Text("same/y")}));
  EXPECT_EQ(SortedPaths(*grown->subfolders()), std::vector<std::u16string>{tree.Text("grown/new")});
  EXPECT_EQ(SortedPaths(*swapped->subfolders()),
            std::vector<std::u16string>{tree.Text("swapped/renamed")});
  EXPECT_EQ(SortedPaths(*linked->subfolders()),
            std::vector<std::u16string>{tree.Text("linked/link")});
  EXPECT_EQ(SortedPaths(*moved->subfolders()), std::vector<std::u16string>{});
  // A second listing of the subfolders reads the directory again.
  tree.Folder("same/z");
  EXPECT_EQ(
      SortedPaths(*same->subfolders()),
      (std::vector<std::u16string>{tree.Text("same/x"), tree.Text("same/y"), tree.Text("same/z")}));
}

}  // namespace
}  // namespace quavelle
