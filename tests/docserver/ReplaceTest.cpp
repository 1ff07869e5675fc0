// Putting the new package in place: what the new file keeps of the old one,
// the folder descriptors a server holds between documents, and what a failed
// write leaves behind.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "PackageFixture.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/FolderDescriptors.h"

namespace quavelle::docserver::testing {
namespace {

mode_t ModeOf(const fs::path& file) {
  struct stat st {};
  EXPECT_EQ(::stat(file.c_str(), &st), 0);
  return st.st_mode & 07777;
}

// Under a umask that a new file's mode is cut by, the ones it already has
// and the ones it must be given afterwards.
TEST(ReplacedDocument, KeepsItsPermissionBits) {
  const mode_t previous = ::umask(022);
  for (mode_t mode : {0600, 0644, 0664, 0606, 0640 | S_ISGID}) {
    SCOPED_TRACE(mode);
    TempFolder folder;
    const fs::path file = folder / "a.docx";
    WritePackage(file, LinkedWord());
    ASSERT_EQ(::chmod(file.c_str(), mode), 0);
    ASSERT_EQ(SetFirstLink(file, u"D:\\Data\\plan.xlsx"), 0);
    EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
    EXPECT_EQ(ModeOf(file), mode);
  }
  ::umask(previous);
}

TEST(FolderDescriptors, HoldsTheFoldersUsedLastUpToItsBound) {
  TempFolder root;
  FolderDescriptors folders;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < FolderDescriptors::kHeld + 2; ++i) {
    names.push_back((root / ("f" + std::to_string(i))).string());
    fs::create_directory(names.back());
    EXPECT_GE(folders.Get(names.back()), 0);
  }
  EXPECT_EQ(folders.HeldCount(), FolderDescriptors::kHeld);
  const int last = folders.Get(names.back());
  EXPECT_EQ(folders.Get(names.back()), last);
  EXPECT_EQ(folders.Get((root / "missing").string()), -1);
  EXPECT_EQ(folders.HeldCount(), FolderDescriptors::kHeld);
}

// The server holds the folder of a document it replaced; when that folder is
// moved away and another takes its name, the next document there is replaced
// in the new folder, and the moved one is left alone.
TEST(FolderDescriptors, AFolderMovedAwayIsNotWrittenInto) {
  TempFolder root;
  const fs::path folder = root / "Projects";
  fs::create_directory(folder);
  WritePackage(folder / "a.docx", LinkedWord());
  auto server = CreateBuiltinDocumentServer();
  SetPathAt(*server->Open(U16((folder / "a.docx").string())), 0, u"D:\\Data\\plan.xlsx");

  fs::rename(folder, root / "Moved");
  fs::create_directory(folder);
  WritePackage(folder / "a.docx", LinkedWord());
  const std::string moved = ReadBytes(root / "Moved" / "a.docx");
  SetPathAt(*server->Open(U16((folder / "a.docx").string())), 0, u"E:\\plan.xlsx");

  EXPECT_EQ(LinkPaths(folder / "a.docx"), std::vector<std::u16string>{u"E:\\plan.xlsx"});
  EXPECT_EQ(ReadBytes(root / "Moved" / "a.docx"), moved);
  EXPECT_EQ(FolderListing(root / "Moved"), std::vector<std::string>{"a.docx"});
  EXPECT_EQ(FolderListing(folder), std::vector<std::string>{"a.docx"});
}

// A temporary file the folder will not let go of (here a non-empty folder
// took its name) is named in the error; the document stays as it was, and the
// same document, let go of before the rename, is written once that is over.
TEST(FailedWrite, NamesATemporaryFileItCannotRemoveAndCanBeRepeated) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);
  std::string temporary;
  bool failing = true;
  ServerOptions options;
  options.faultHook = [&](ReplaceStep step) {
    if (!failing || step != ReplaceStep::Rename) return 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      if (entry.path().extension() == ".tmp") temporary = entry.path().filename();
    }
    fs::remove(folder / temporary);
    fs::create_directory(folder / temporary);
    std::ofstream(folder / temporary / "held") << "x";
    return EIO;
  };
  auto server = CreateBuiltinDocumentServer(options);
  auto document = server->Open(U16(file.string()));
  EnumeratedLinks links(*document);
  links[0].SetPath(u"D:\\Data\\plan.xlsx");
  const auto error = quavelle::testing::CaughtError([&] { links.Finish(); });
  EXPECT_TRUE(quavelle::testing::IsErrorNaming(error, error_number::kPathFileAccessError,
                                               U16((folder / temporary).string())));
  ASSERT_TRUE(error);
  EXPECT_NE(ToUtf8(error->description()).find("left behind"), std::string::npos);
  EXPECT_EQ(ReadBytes(file), before);

  failing = false;
  fs::remove_all(folder / temporary);
  EXPECT_EQ(LinkPaths(*document), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
  EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{"a.docx"});
}

}  // namespace
}  // namespace quavelle::docserver::testing
