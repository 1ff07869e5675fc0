#include "services/filesystem/LocalWalkGuard.h"

#include <gtest/gtest.h>

#include "TempTree.h"
#include "Unprivileged.h"
#include "services/Text.h"

namespace quavelle {
namespace {

using testing::ModeChange;
using testing::RunUnprivileged;
using testing::TempTree;

TEST(WalkGuard, EachFileOrFolderIsFirstOnceWhateverPathNamesIt) {
  TempTree tree;
  tree.Folder("sub");
  tree.File("sub/a.doc", "same");
  tree.File("sub/b.doc", "same");
  tree.HardLink("sub/a.doc", "hard.doc");
  tree.Symlink("sub/a.doc", "soft.doc");
  tree.Symlink("soft.doc", "soft2.doc");
  tree.Symlink("sub", "alias");
  auto guard = CreateLocalWalkGuard();

  EXPECT_TRUE(guard->FirstVisit(tree.Text("sub/a.doc")));
  EXPECT_TRUE(guard->FirstVisit(tree.Text("sub/b.doc")));  // equal content, another file
  for (const char* again :
       {"sub/a.doc", "hard.doc", "soft.doc", "soft2.doc", "alias/a.doc", "sub/../sub/./a.doc"}) {
    EXPECT_FALSE(guard->FirstVisit(tree.Text(again))) << again;
  }
  EXPECT_TRUE(guard->FirstVisit(tree.Text("alias")));
  EXPECT_FALSE(guard->FirstVisit(tree.Text("sub/")));
  EXPECT_TRUE(guard->FirstVisit(tree.Text()));

  // A new run starts with nothing met.
  EXPECT_TRUE(CreateLocalWalkGuard()->FirstVisit(tree.Text("hard.doc")));
}

TEST(WalkGuard, NonUtf8NamesAreFoundOnDisk) {
  TempTree tree;
  tree.File("caf\xE9.doc");
  tree.HardLink("caf\xE9.doc", "other.doc");
  auto guard = CreateLocalWalkGuard();
  EXPECT_TRUE(guard->FirstVisit(tree.Text("other.doc")));
  // Had the name been mangled, its identity would be unreadable and count as new.
  EXPECT_FALSE(guard->FirstVisit(tree.Text("caf\xE9.doc")));
}

TEST(WalkGuard, PathsWhoseIdentityCannotBeReadAlwaysCountAsNew) {
  TempTree tree;
  tree.Symlink("loop", "loop");
  auto guard = CreateLocalWalkGuard();
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(guard->FirstVisit(tree.Text("missing.doc")));
    EXPECT_TRUE(guard->FirstVisit(tree.Text("loop")));
    EXPECT_TRUE(guard->FirstVisit(u""));
  }
  tree.File("\xEF\xBF\xBD");
  EXPECT_TRUE(guard->FirstVisit(tree.Text("\xEF\xBF\xBD")));
  // Neither names the entry a converted form would reach.
  EXPECT_TRUE(guard->FirstVisit(tree.Text() + u"/\xDFFF"));
  std::u16string withNul = tree.Text();
  withNul += u'\0';
  EXPECT_TRUE(guard->FirstVisit(tree.Text()));
  EXPECT_TRUE(guard->FirstVisit(withNul));  // not the folder before the NUL

  tree.File("missing.doc");
  EXPECT_TRUE(guard->FirstVisit(tree.Text("missing.doc")));
  EXPECT_FALSE(guard->FirstVisit(tree.Text("missing.doc")));
}

TEST(WalkGuard, EntriesOfAFolderClosedToTheRunAlwaysCountAsNew) {
  TempTree tree;
  tree.Folder("locked");
  tree.File("locked/a.doc");
  ModeChange lock(tree.Native("locked"), 0700);

  const int result = RunUnprivileged([&] {
    auto guard = CreateLocalWalkGuard();
    const std::u16string inside = tree.Text("locked/a.doc");
    const bool asNew = guard->FirstVisit(inside) && guard->FirstVisit(inside);
    const bool folderOnce =
        guard->FirstVisit(tree.Text("locked")) && !guard->FirstVisit(tree.Text("locked"));
    return asNew && folderOnce ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace quavelle
