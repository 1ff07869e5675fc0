#include "services/filesystem/LocalFileSystem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "TempTree.h"
#include "Unprivileged.h"
#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle {
namespace {

using testing::ModeChange;
using testing::RunUnprivileged;
using testing::SortedPaths;
using testing::TempTree;

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

// Restores the current folder when the test ends.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& path) : previous_(::get_current_dir_name()) {
    if (previous_ == nullptr || ::chdir(path.c_str()) != 0) throw std::runtime_error("chdir");
  }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;
  ~CurrentFolder() {
    if (::chdir(previous_) != 0) ADD_FAILURE() << "cannot return to " << previous_;
    std::free(previous_);
  }

 private:
  char* previous_;
};

TEST(GetFolder, FailsWithPathNotFoundWhenThePathNamesNoFolder) {
  TempTree tree;
  tree.File("file.doc");
  tree.Fifo("pipe");
  tree.Symlink("nowhere", "dangling");
  tree.Symlink("loop", "loop");
  tree.Folder("d\xEF\xBF\xBD");  // what a replaced lone surrogate would turn into
  auto fso = CreateLocalFileSystem();
  std::u16string withNul = tree.Text();
  withNul += u'\0';
  withNul += u"missing";
  const std::u16string loneSurrogate = tree.Text() + u"/d\xD800";
  for (const std::u16string& path :
       {std::u16string(), tree.Text("missing"), tree.Text("missing/deeper"), tree.Text("file.doc"),
        tree.Text("file.doc/"), tree.Text("file.doc/x"), tree.Text("pipe"), tree.Text("dangling"),
        tree.Text("loop"), withNul, loneSurrogate}) {
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
  auto fso = CreateLocalFileSystem();
  EXPECT_EQ(fso->GetFolder(tree.Text())->Path(), tree.Text());
  EXPECT_EQ(fso->GetFolder(tree.Text("sub/"))->Path(), tree.Text("sub"));
  EXPECT_EQ(fso->GetFolder(tree.Text("sub///"))->Path(), tree.Text("sub"));
  EXPECT_EQ(fso->GetFolder(tree.Text("alias"))->Path(), tree.Text("alias"));
  EXPECT_EQ(fso->GetFolder(u"/")->Path(), u"/");
  EXPECT_EQ(fso->GetFolder(u"//")->Path(), u"/");

  CurrentFolder inTree(tree.Root());
  EXPECT_EQ(fso->GetFolder(u"sub")->Path(), tree.Text("sub"));
  EXPECT_EQ(fso->GetFolder(u"./sub/")->Path(), tree.Text("./sub"));
  EXPECT_EQ(fso->GetFolder(u"sub/../alias")->Path(), tree.Text("sub/../alias"));

  CurrentFolder atRoot("/");
  EXPECT_EQ(fso->GetFolder(u"tmp")->Path(), u"/tmp");
}

TEST(Folder, ListsRegularFilesAndFoldersAlsoThroughLinksButNothingElse) {
  TempTree tree;
  tree.File("a.doc", "a");
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

  EXPECT_EQ(
      SortedPaths(*folder->Files()),
      (std::vector<std::u16string>{tree.Text(".hidden"), tree.Text("a.doc"), tree.Text("hard.doc"),
                                   tree.Text("soft.doc"), tree.Text("soft2.doc")}));
  EXPECT_EQ(
      SortedPaths(*folder->subfolders()),
      (std::vector<std::u16string>{tree.Text("sub"), tree.Text("subalias"), tree.Text("up")}));
}

TEST(Folder, EmptyFolderHasNoElementsAndEachEnumerationStartsAfresh) {
  TempTree tree;
  auto folder = CreateLocalFileSystem()->GetFolder(tree.Text());
  auto files = folder->Files();
  EXPECT_EQ(files->NewEnum()->Next(), nullptr);
  EXPECT_EQ(folder->subfolders()->NewEnum()->Next(), nullptr);

  tree.File("late.doc");
  auto e = files->NewEnum();
  auto first = e->Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Path(), tree.Text("late.doc"));
  EXPECT_EQ(e->Next(), nullptr);
}

TEST(Folder, ChildrenOfTheRootHaveOneSeparator) {
  auto folders = SortedPaths(*CreateLocalFileSystem()->GetFolder(u"/")->subfolders());
  EXPECT_NE(std::find(folders.begin(), folders.end(), u"/tmp"), folders.end());
}

TEST(Folder, NamesThatAreNotUtf8RoundTripToTheSameEntries) {
  TempTree tree;
  tree.Folder("d\xFF");
  tree.File("d\xFF/caf\xE9.doc", "latin-1 name");
  auto fso = CreateLocalFileSystem();

  const auto folders = SortedPaths(*fso->GetFolder(tree.Text())->subfolders());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0].back(), u'\xDCFF');
  const auto files = SortedPaths(*fso->GetFolder(folders[0])->Files());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].ends_with(u"/caf\xDCE9.doc"));
  EXPECT_EQ(TextToNativePath(files[0]), tree.Native("d\xFF/caf\xE9.doc"));
}

TEST(Folder, EnumeratingAFolderRemovedSinceGetFolderFailsWithPathNotFound) {
  TempTree tree;
  tree.Folder("gone");
  auto folder = CreateLocalFileSystem()->GetFolder(tree.Text("gone"));
  ASSERT_EQ(::rmdir(tree.Native("gone").c_str()), 0);
  EXPECT_EQ(ErrorNumberOf([&] { folder->Files()->NewEnum(); }), error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { folder->subfolders()->NewEnum(); }), error_number::kPathNotFound);
}

TEST(Folder, UnreadableFolderFailsWithPermissionDenied) {
  TempTree tree;
  tree.Folder("locked");
  tree.Folder("locked/inner");
  tree.File("locked/a.doc");
  tree.Symlink("locked/a.doc", "through.doc");
  ModeChange lock(tree.Native("locked"), 0700);  // owned by root: closed to nobody

  const int result = RunUnprivileged([&] {
    auto fso = CreateLocalFileSystem();
    auto locked = fso->GetFolder(tree.Text("locked"));  // it exists: its parent is open
    const std::int32_t files = ErrorNumberOf([&] { locked->Files()->NewEnum(); });
    const std::int32_t folders = ErrorNumberOf([&] { locked->subfolders()->NewEnum(); });
    const std::int32_t inner = ErrorNumberOf([&] { fso->GetFolder(tree.Text("locked/inner")); });
    // A link whose target cannot be reached is reported, not passed over.
    const std::int32_t link =
        ErrorNumberOf([&] { SortedPaths(*fso->GetFolder(tree.Text())->Files()); });
    const bool all = files == error_number::kPermissionDenied && folders == files &&
                     inner == files && link == files;
    return all ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace quavelle
