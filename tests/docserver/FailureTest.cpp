#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver::testing {
namespace {

namespace number = quavelle::docserver::error_number;

std::vector<Entry> With(std::vector<Entry> entries, Entry extra) {
  entries.push_back(std::move(extra));
  return entries;
}

TEST(UnreadableFiles, MissingFolderAndPipeFailWithoutWaiting) {
  TempFolder folder;
  auto server = CreateBuiltinDocumentServer();
  EXPECT_EQ(OpenAndListError(*server, folder / "missing.docx"), number::kFileNotFound);
  EXPECT_EQ(OpenAndListError(*server, folder / "no/such/folder/a.odt"), number::kFileNotFound);
  fs::create_directory(folder / "folder.docx");
  EXPECT_EQ(OpenAndListError(*server, folder / "folder.docx"), number::kPathFileAccessError);
  // Nobody writes into this pipe: opening it must not wait for a writer.
  ASSERT_EQ(::mkfifo((folder / "pipe.docx").c_str(), 0644), 0);
  EXPECT_EQ(OpenAndListError(*server, folder / "pipe.docx"), number::kPathFileAccessError);
}

// Runs body in a child process as the unprivileged user 65534 (root ignores
// permission bits); gives its exit code.
int AsUnprivilegedUser(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
      ::_exit(200);
    }
    int code = body();
    ::_exit(code > 199 ? 199 : code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct PermissionCase {
  const char* name;
  unsigned folderMode;
  unsigned fileMode;
  gid_t fileGroup;   // the file's owner is root
  bool asUser;       // the call runs as user 65534, otherwise as root
  bool changeLinks;  // SetPath, otherwise Open and LinkedDocuments
};

class Permissions : public ::testing::TestWithParam<PermissionCase> {};

TEST_P(Permissions, AreRespectedAndLeaveTheFileAsItWas) {
  const PermissionCase& c = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  TempFolder root;
  fs::permissions(root.path(), fs::perms(0755));
  const fs::path folder = root / "shared";
  fs::create_directory(folder);
  const fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);
  ASSERT_EQ(::chown(file.c_str(), 0, c.fileGroup), 0);
  fs::permissions(file, fs::perms(c.fileMode));
  fs::permissions(folder, fs::perms(c.folderMode));

  auto call = [&] {
    if (c.changeLinks) return SetFirstLink(file, u"D:\\Data\\plan.xlsx");
    auto server = CreateBuiltinDocumentServer();
    return OpenAndListError(*server, file);
  };
  EXPECT_EQ(c.asUser ? AsUnprivilegedUser(call) : call(), number::kPermissionDenied);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder), std::vector<std::string>{"a.docx"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Permissions,
    ::testing::Values(PermissionCase{"FileWithoutReadPermission", 0777, 0600, 0, true, false},
                      PermissionCase{"ReadOnlyFileInAWritableFolder", 0777, 0644, 0, true, true},
                      PermissionCase{"WritableFileInAReadOnlyFolder", 0555, 0666, 0, true, true},
                      // The user may write it but could not give a new file root's ownership.
                      PermissionCase{"GroupWritableFileOfAnotherOwner", 0777, 0664, 65534, true,
                                     true},
                      PermissionCase{"NoWriteBitIsReadOnlyForRootToo", 0755, 0444, 0, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
  const char* name;
  ReplaceStep step;
  int error;
  std::int32_t expected;
};

class InterruptedWrite : public ::testing::TestWithParam<FaultCase> {};

TEST_P(InterruptedWrite, LeavesTheDocumentAsItWasAndNoTemporaryFile) {
  const FaultCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / "a.docx";
  WritePackage(file, With(LinkedWord(), {"word/media/big.bin", std::string(200000, 'x')}));
  const std::string before = ReadBytes(file);
  bool failing = true;
  int writes = 0;
  ServerOptions options;
  options.faultHook = [&](ReplaceStep step) {
    // A write failure comes after some bytes went out, as a full disk does.
    if (step == ReplaceStep::Write && ++writes < 3) return 0;
    return failing && step == c.step ? c.error : 0;
  };
  auto server = CreateBuiltinDocumentServer(options);
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  std::unique_ptr<LinkedDocument> link = LinkAt(*document, 0);

  EXPECT_EQ(ErrorNumber([&] { link->SetPath(u"D:\\Data\\plan.xlsx"); }), c.expected);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{"a.docx"});
  EXPECT_EQ(link->AbsolutePath(), u"C:\\Data\\plan.xlsx");

  // The same objects work once the fault is gone.
  failing = false;
  link->SetPath(u"D:\\Data\\plan.xlsx");
  EXPECT_EQ(LinkPaths(*server, file), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InterruptedWrite,
    ::testing::Values(
        FaultCase{"NoRoomForTheTemporaryFile", ReplaceStep::CreateTemp, ENOSPC, number::kDiskFull},
        FaultCase{"DiskFullWhileWriting", ReplaceStep::Write, ENOSPC, number::kDiskFull},
        FaultCase{"FlushFails", ReplaceStep::Sync, EIO, number::kPathFileAccessError},
        FaultCase{"RenameRefused", ReplaceStep::Rename, EACCES, number::kPermissionDenied}),
    [](const auto& info) { return std::string(info.param.name); });

// A real small file system that cannot hold a second copy of the document.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const fs::path& at) : at_(at) {
    fs::create_directory(at_);
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount(at_.c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

TEST(FullDisk, LeavesTheDocumentAsItWasAndNoTemporaryFile) {
  TempFolder folder;
  SmallFileSystem disk(folder / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  fs::path file = folder / "disk" / "a.docx";
  std::string noise(150000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  WritePackage(file, With(LinkedWord(), {"word/media/noise.bin", noise, true}));
  const std::string before = ReadBytes(file);
  EXPECT_EQ(SetFirstLink(file, u"D:\\Data\\plan.xlsx"), number::kDiskFull);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder / "disk"), std::vector<std::string>{"a.docx"});
}

struct RefusalCase {
  const char* name;
  const char* fileName;
  std::vector<Entry> entries;
  std::u16string newPath;
  std::int32_t expected;
  bool changedByOthers = false;  // replaced by another package after Open
};

class RefusedChange : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedChange, FailsWithItsNumberAndLeavesFileAndLinkAsTheyWere) {
  const RefusalCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  WritePackage(file, c.entries);
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  std::unique_ptr<LinkedDocument> link = LinkAt(*document, 0);
  ASSERT_TRUE(link);
  if (c.changedByOthers) {
    WritePackage(folder / "other", DocxWith({{"word/_rels/document.xml.rels", Rels("")}}));
    fs::rename(folder / "other", file);
  }
  const std::string before = ReadBytes(file);

  EXPECT_EQ(ErrorNumber([&] { link->SetPath(c.newPath); }), c.expected);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(link->AbsolutePath(), u"C:\\Data\\plan.xlsx");
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{c.fileName});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedChange,
    ::testing::Values(
        RefusalCase{"SignedOfficeOpenXml", "signed.docx",
                    With(LinkedWord(), {"_xmlsignatures/sig1.xml", "<Signature/>"}),
                    u"D:\\Data\\plan.xlsx", number::kSignedDocument},
        RefusalCase{"SignedOpenDocument", "signed.odt",
                    OdtWith({{"content.xml",
                              OdfContent("<text:a xlink:href=\"C:\\Data\\plan.xlsx\">p</text:a>")},
                             {"META-INF/documentsignatures.xml", "<document-signatures/>"}}),
                    u"D:\\Data\\plan.xlsx", number::kSignedDocument},
        RefusalCase{"EmptyPath", "a.docx", LinkedWord(), u"", number::kInvalidArgument},
        RefusalCase{"PathThatWouldNotReadBack", "a.docx", LinkedWord(),
                    u"https://example.com/plan.xlsx", number::kUnwritablePath},
        RefusalCase{"FileChangedBySomeoneElseSinceOpen", "a.docx", LinkedWord(),
                    u"D:\\Data\\plan.xlsx", number::kDocumentChanged, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quavelle::docserver::testing
