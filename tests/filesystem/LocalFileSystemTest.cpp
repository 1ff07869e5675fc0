#include "services/filesystem/LocalFileSystem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempTree.h"
#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle {
namespace {

using testing::RunUnprivileged;
using testing::SortedPaths;
using testing::TempTree;
using Paths = std::vector<std::u16string>;

// The error number a call fails with, or 0 when it succeeds.
template <class Call>
std::int32_t ErrorNumberOf(Call call) {
  try {
    call();
  } catch (const ServiceError& e) {
    return e.number();
  }
  return 0;
}

TEST(GetFolder, FailsWithPathNotFoundWhenThePathNamesNoFolder) {
  TempTree tree;
  tree.File("file.doc");
  tree.Fifo("pipe");
  tree.Symlink("nowhere", "dangling");
  tree.Symlink("loop", "loop");
  tree.Folder("d\xEF\xBF\xBD");  // what a replaced lone surrogate would turn into
  auto fso = CreateLocalFileSystem();
  std::u16string withNul = tree.Text();
  withNul += std::u16string(1, u'\0') + u"missing";
  for (const std::u16string& path :
       {std::u16string(), tree.Text("missing"), tree.Text("missing/deeper"), tree.Text("file.doc"),
        tree.Text("file.doc/"), tree.Text("file.doc/x"), tree.Text("pipe"), tree.Text("dangling"),
        tree.Text("loop"), withNul, tree.Text() + u"/d\xD800"}) {
    try {
      fso->GetFolder(path);
      ADD_FAILURE() << "no failure for '" << ToUtf8(path) << "'";
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), error_number::kPathNotFound) << ToUtf8(path);
      EXPECT_EQ(e.description(), u"Path not found");
    }
  }
}

TEST(GetFolder, PathIsAbsoluteAsTypedWithoutTrailingSeparators) {
  TempTree tree;
  tree.Folder("sub");
  tree.Symlink("sub", "alias");
  const std::string root = tree.Root();
  struct Restore {
    std::filesystem::path previous = std::filesystem::current_path();
    ~Restore() { std::filesystem::current_path(previous); }
  } restore;
  struct Row {
    std::string current, typed, path;
  };
  const std::vector<Row> table = {
      {root, root, root},
      {root, root + "/sub/", root + "/sub"},
      {root, root + "/sub///", root + "/sub"},
      {root, root + "/alias", root + "/alias"},  // links are not resolved
      {root, "/", "/"},
      {root, "//", "/"},
      {root, "sub", root + "/sub"},
      {root, "./sub/", root + "/./sub"},
      {root, "sub/../alias", root + "/sub/../alias"},
      {"/", "tmp", "/tmp"},
  };
  auto fso = CreateLocalFileSystem();
  for (const Row& row : table) {
    std::filesystem::current_path(row.current);
    EXPECT_EQ(ToUtf8(fso->GetFolder(FromUtf8(row.typed))->Path()), row.path) << row.typed;
  }
}

TEST(Folder, ListsRegularFilesAndFoldersAlsoThroughLinksButNothingElse) {
  TempTree tree;
  tree.File("a.doc");
  tree.File(".hidden");
  tree.HardLink("a.doc", "hard.doc");
  tree.Symlink("a.doc", "soft.doc");
  tree.Symlink("soft.doc", "soft2.doc");
  tree.Fifo("pipe");
  tree.Socket("sock");
  tree.Symlink("/dev/null", "device");
  tree.Symlink("nowhere", "dangling");
  tree.Symlink("loop", "loop");
  tree.Folder("sub");
  tree.Symlink("sub", "subalias");
  tree.Symlink(tree.Root(), "up");
  auto fso = CreateLocalFileSystem();
  auto folder = fso->GetFolder(tree.Text());

  EXPECT_EQ(SortedPaths(*folder->Files()),
            (Paths{tree.Text(".hidden"), tree.Text("a.doc"), tree.Text("hard.doc"),
                   tree.Text("soft.doc"), tree.Text("soft2.doc")}));
  EXPECT_EQ(SortedPaths(*folder->subfolders()),
            (Paths{tree.Text("sub"), tree.Text("subalias"), tree.Text("up")}));
  // Children of the root carry one separator.
  const Paths top = SortedPaths(*fso->GetFolder(u"/")->subfolders());
  EXPECT_TRUE(std::binary_search(top.begin(), top.end(), u"/tmp"));
}

TEST(Folder, NamesThatAreNotUtf8RoundTripToTheSameEntries) {
  TempTree tree;
  tree.Folder("d\x80");
  tree.File("d\x80/caf\xE9.doc");
  auto fso = CreateLocalFileSystem();

  const Paths folders = SortedPaths(*fso->GetFolder(tree.Text())->subfolders());
  ASSERT_EQ(folders, Paths{tree.Text() + u"/d\xDC80"});
  const Paths files = SortedPaths(*fso->GetFolder(folders[0])->Files());
  ASSERT_EQ(files, Paths{folders[0] + u"/caf\xDCE9.doc"});
  EXPECT_EQ(TextToNativePath(files[0]), tree.Native("d\x80/caf\xE9.doc"));
}

TEST(Folder, UnreadableFolderFailsWithPermissionDenied) {
  TempTree tree;
  tree.Folder("locked");
  tree.Folder("locked/inner");
  tree.File("locked/a.doc");
  tree.Symlink("locked/a.doc", "through.doc");
  std::filesystem::permissions(tree.Native("locked"), std::filesystem::perms(0700));

  const int result = RunUnprivileged([&] {
    auto fso = CreateLocalFileSystem();
    auto locked = fso->GetFolder(tree.Text("locked"));  // it exists: its parent is open
    const std::int32_t files = ErrorNumberOf([&] { locked->Files()->NewEnum(); });
    const std::int32_t folders = ErrorNumberOf([&] { locked->subfolders()->NewEnum(); });
    const std::int32_t inner = ErrorNumberOf([&] { fso->GetFolder(tree.Text("locked/inner")); });
    // A link whose target cannot be reached is reported, not passed over.
    const std::int32_t link =
        ErrorNumberOf([&] { SortedPaths(*fso->GetFolder(tree.Text())->Files()); });
    return files == error_number::kPermissionDenied && folders == files && inner == files &&
                   link == files
               ? 0
               : 1;
  });
  EXPECT_EQ(result, 0);
}

TEST(GetDriveName, GivesTheDrivePartCopiedFromTheStartOfThePath) {
  // Drive letters; network paths (server and share, either separator); a server
  // alone or an empty server or share; device prefixes kept in front; no drive.
  // clang-format off
  const std::pair<std::u16string, std::u16string> table[] = {
      {uR"(C:\Data\plan.doc)", u"C:"}, {u"C:", u"C:"}, {u"C:plan.doc", u"C:"},
      {u"z:/Data/plan.doc", u"z:"}, {uR"(1:\x)", u""}, {u"\u00C9:\\x", u""}, {uR"(:\x)", u""},
      {u"C", u""}, {u"", u""},
      {uR"(\\srv1\proj\a.doc)", uR"(\\srv1\proj)"}, {uR"(\\srv1\proj)", uR"(\\srv1\proj)"},
      {u"//srv1/proj/a.doc", u"//srv1/proj"}, {uR"(\\srv1/proj\a.doc)", uR"(\\srv1/proj)"},
      {uR"(/\srv1\proj)", uR"(/\srv1\proj)"},
      {uR"(\\srv1)", u""}, {uR"(\\srv1\)", u""}, {uR"(\\srv1\\proj)", u""},
      {uR"(\\\srv1\proj)", u""}, {uR"(\\)", u""},
      {uR"(\\?\C:\x)", uR"(\\?\C:)"}, {uR"(\\.\C:\x)", uR"(\\.\C:)"},
      {uR"(\\?\UNC\srv1\proj\x)", uR"(\\?\UNC\srv1\proj)"},
      {uR"(\\?\unc\srv1\proj)", uR"(\\?\unc\srv1\proj)"}, {uR"(\\?\UNC\srv1)", uR"(\\?\UNC)"},
      {u"/home/user/a.doc", u""}, {uR"(\Data\plan.doc)", u""}, {uR"(Data\plan.doc)", u""}};
  // clang-format on
  auto fso = CreateLocalFileSystem();
  for (const auto& [path, drive] : table) EXPECT_EQ(fso->GetDriveName(path), drive) << ToUtf8(path);
}

TEST(DriveExists, OffersTheRootAsTheOneDrive) {
  auto fso = CreateLocalFileSystem();
  EXPECT_TRUE(fso->DriveExists(u"/"));
  for (const std::u16string drive : {u"", u"C:", u"//", u"/tmp", uR"(\\srv1\proj)"}) {
    EXPECT_FALSE(fso->DriveExists(drive)) << ToUtf8(drive);
  }
}

}  // namespace
}  // namespace quavelle
