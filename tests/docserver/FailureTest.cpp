#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "DocumentCalls.h"
#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver::testing {
namespace {

namespace number = quavelle::docserver::error_number;

constexpr const char* kLink =
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/hyperlink\" Target=\"C:\\Data\\plan.xlsx\" TargetMode=\"External\"/>";

std::vector<Entry> LinkedWord() {
  return DocxWith({{"word/_rels/document.xml.rels", Rels(kLink)}});
}

std::string PackageBytes(const std::vector<Entry>& entries) {
  TempFolder scratch;
  WritePackage(scratch / "p.zip", entries);
  return ReadBytes(scratch / "p.zip");
}

ServerOptions SmallParts() {
  ServerOptions options;
  options.maxPartSize = 64 << 10;
  return options;
}

struct DamageCase {
  const char* name;
  const char* fileName;
  std::function<std::string()> bytes;
  std::int32_t expected;
};

class DamagedPackage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedPackage, FailsWithItsNumberAndStaysUntouched) {
  const DamageCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  const std::string bytes = c.bytes();
  WriteBytes(file, bytes);
  auto server = CreateBuiltinDocumentServer(SmallParts());
  EXPECT_EQ(OpenAndListError(*server, file.string()), c.expected);
  EXPECT_EQ(ReadBytes(file), bytes);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{c.fileName});
}

std::string Flipped(std::string bytes, const std::string& near) {
  std::size_t at = bytes.find(near);
  if (at != std::string::npos) {
    for (std::size_t i = at + near.size(); i < at + near.size() + 8 && i < bytes.size(); ++i) {
      bytes[i] = static_cast<char>(bytes[i] ^ 0x55);
    }
  }
  return bytes;
}

// Overwrites a field of the named entry's local header (at localField) and
// central directory entry (at centralField).
std::string PatchHeaders(std::string bytes, const std::string& name, std::size_t localField,
                         std::size_t centralField, const std::string& value) {
  for (std::size_t at = bytes.find(name); at != std::string::npos; at = bytes.find(name, at + 1)) {
    if (at >= 30 && bytes.compare(at - 30, 4, "PK\3\4") == 0) {
      bytes.replace(at - 30 + localField, value.size(), value);
    } else if (at >= 46 && bytes.compare(at - 46, 4, "PK\1\2") == 0) {
      bytes.replace(at - 46 + centralField, value.size(), value);
    }
  }
  return bytes;
}

std::vector<DamageCase> DamageCases() {
  return {
      {"NotAZip", "a.docx", [] { return std::string("plain text, not a package\n"); },
       number::kNotAPackage},
      {"EmptyFile", "a.xlsx", [] { return std::string(); }, number::kNotAPackage},
      {"EncryptedOfficeFile", "a.docx",
       [] { return std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4088, '\0'); },
       number::kEncryptedDocument},
      {"TruncatedBeforeItsDirectory", "a.docx",
       [] {
         std::string whole = PackageBytes(LinkedWord());
         return whole.substr(0, whole.size() * 2 / 3);
       },
       number::kDamagedPackage},
      {"CorruptLinkPartData", "a.docx",
       [] { return Flipped(PackageBytes(LinkedWord()), "document.xml.rels"); },
       number::kDamagedPackage},
      {"EncryptedLinkPart", "a.docx",
       [] {
         // General purpose flag bit 0: the entry's data is encrypted.
         return PatchHeaders(PackageBytes(LinkedWord()), "word/_rels/document.xml.rels", 6, 8,
                             std::string("\x01", 1));
       },
       number::kDamagedPackage},
      {"MalformedRelationships", "a.docx",
       [] {
         return PackageBytes(DocxWith({{"word/_rels/document.xml.rels", Rels(kLink) + "<x>"}}));
       },
       number::kMalformedPart},
      {"DocTypeInContent", "a.odt",
       [] {
         return PackageBytes(
             OdtWith({{"content.xml",
                       "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaa\"><!ENTITY b "
                       "\"&a;&a;&a;&a;\">]><d>&b;</d>"}}));
       },
       number::kDocTypeInPart},
      {"CompressionBomb", "a.odt",
       [] {
         return PackageBytes(
             OdtWith({{"content.xml", OdfContent("<!--" + std::string(1 << 20, ' ') + "-->")}}));
       },
       number::kPartTooLarge},
  };
}

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedPackage, ::testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The directory may claim a small size for a part that inflates to much more.
TEST(DamagedPackageSizes, InflatingStopsAtTheLimitWhateverTheDirectorySays) {
  TempFolder folder;
  fs::path file = folder / "a.odt";
  std::string bytes = PackageBytes(
      OdtWith({{"content.xml", OdfContent("<!--" + std::string(1 << 20, ' ') + "-->")}}));
  // content.xml now claims to inflate to 100 bytes.
  bytes = PatchHeaders(bytes, "content.xml", 22, 24, std::string("\x64\0\0\0", 4));
  WriteBytes(file, bytes);
  auto server = CreateBuiltinDocumentServer(SmallParts());
  const std::int32_t error = OpenAndListError(*server, file.string());
  EXPECT_EQ(error, number::kPartTooLarge);
  EXPECT_EQ(ReadBytes(file), bytes);
}

TEST(UnreadableFiles, MissingFolderAndPipeFailWithoutWaiting) {
  TempFolder folder;
  auto server = CreateBuiltinDocumentServer();
  EXPECT_EQ(OpenAndListError(*server, (folder / "missing.docx").string()), number::kFileNotFound);
  EXPECT_EQ(OpenAndListError(*server, (folder / "no/such/folder/a.odt").string()),
            number::kFileNotFound);
  fs::create_directory(folder / "folder.docx");
  EXPECT_EQ(OpenAndListError(*server, (folder / "folder.docx").string()),
            number::kPathFileAccessError);
  // Nobody writes into this pipe: opening it must not wait for a writer.
  ASSERT_EQ(::mkfifo((folder / "pipe.docx").c_str(), 0644), 0);
  EXPECT_EQ(OpenAndListError(*server, (folder / "pipe.docx").string()),
            number::kPathFileAccessError);
}

// Runs body in a child process as the unprivileged user 65534 when this
// process is root (root ignores permission bits); gives its exit code.
int AsUnprivilegedUser(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(200);
    }
    int code = body();
    ::_exit(code > 199 ? 199 : code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Own(const fs::path& path, uid_t uid) { ASSERT_EQ(::chown(path.c_str(), uid, uid), 0); }

// A folder the unprivileged user may enter; the TempFolder itself is private.
struct SharedFolder {
  TempFolder root;
  fs::path folder = root / "shared";
  SharedFolder() {
    fs::permissions(root.path(), fs::perms(0755));
    fs::create_directory(folder);
  }
};

int SetFirstLink(const fs::path& file) {
  auto server = CreateBuiltinDocumentServer();
  return ErrorNumber([&] {
    std::unique_ptr<Document> document = server->Open(U16(file.string()));
    LinkAt(*document, 0)->SetPath(u"D:\\Data\\plan.xlsx");
  });
}

TEST(Permissions, AFileWithoutReadPermissionCannotBeOpened) {
  SharedFolder shared;
  fs::permissions(shared.folder, fs::perms(0777));
  fs::path file = shared.folder / "secret.docx";
  WritePackage(file, LinkedWord());
  fs::permissions(file, fs::perms(0600));
  if (::geteuid() != 0) Own(file, 0);  // only root can give it away
  EXPECT_EQ(AsUnprivilegedUser([&] {
              auto server = CreateBuiltinDocumentServer();
              return OpenAndListError(*server, file.string());
            }),
            number::kPermissionDenied);
}

TEST(Permissions, AReadOnlyFileIsNotReplacedEvenThoughItsFolderIsWritable) {
  SharedFolder shared;
  fs::permissions(shared.folder, fs::perms(0777));
  fs::path file = shared.folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);
  fs::permissions(file, fs::perms(0644));  // owned by root: read-only for the user
  EXPECT_EQ(AsUnprivilegedUser([&] { return SetFirstLink(file); }), number::kPermissionDenied);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(shared.folder), std::vector<std::string>{"a.docx"});

  // Without any write bit the file is read-only for root as well.
  fs::permissions(file, fs::perms(0444));
  EXPECT_EQ(SetFirstLink(file), number::kPermissionDenied);
  EXPECT_EQ(ReadBytes(file), before);
}

TEST(Permissions, AWritableFileInAReadOnlyFolderStaysAsItWas) {
  SharedFolder shared;
  fs::path file = shared.folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);
  fs::permissions(file, fs::perms(0666));
  fs::permissions(shared.folder, fs::perms(0555));
  EXPECT_EQ(AsUnprivilegedUser([&] { return SetFirstLink(file); }), number::kPermissionDenied);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(shared.folder), std::vector<std::string>{"a.docx"});
}

TEST(Permissions, AFileOfAnotherOwnerIsNotTakenOver) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another owner";
  SharedFolder shared;
  fs::permissions(shared.folder, fs::perms(0777));
  fs::path file = shared.folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);
  // Owned by root, writable for the user's group: the user may write it but
  // could not give a new file root's ownership.
  ASSERT_EQ(::chown(file.c_str(), 0, 65534), 0);
  fs::permissions(file, fs::perms(0664));
  EXPECT_EQ(AsUnprivilegedUser([&] { return SetFirstLink(file); }), number::kPermissionDenied);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(shared.folder), std::vector<std::string>{"a.docx"});
}

struct SignedCase {
  const char* name;
  const char* fileName;
  std::vector<Entry> entries;
};

class SignedDocument : public ::testing::TestWithParam<SignedCase> {};

TEST_P(SignedDocument, IsListedButNotChanged) {
  const SignedCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  WritePackage(file, c.entries);
  const std::string before = ReadBytes(file);
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  ASSERT_EQ(LinkPaths(*document), std::vector<std::u16string>{u"C:\\Data\\plan.xlsx"});
  EXPECT_EQ(ErrorNumber([&] { LinkAt(*document, 0)->SetPath(u"D:\\Data\\plan.xlsx"); }),
            number::kSignedDocument);
  EXPECT_EQ(ReadBytes(file), before);
}

INSTANTIATE_TEST_SUITE_P(
    BothFormats, SignedDocument,
    ::testing::Values(
        SignedCase{"OfficeOpenXml", "signed.docx",
                   DocxWith({{"word/_rels/document.xml.rels", Rels(kLink)},
                             {"_xmlsignatures/sig1.xml", "<Signature/>"}})},
        SignedCase{"OpenDocument", "signed.odt",
                   OdtWith({{"content.xml",
                             OdfContent("<text:a xlink:href=\"C:\\Data\\plan.xlsx\">p</text:a>")},
                            {"META-INF/documentsignatures.xml", "<document-signatures/>"}})}),
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
  WritePackage(file, DocxWith({{"word/_rels/document.xml.rels", Rels(kLink)},
                               {"word/media/big.bin", std::string(200000, 'x')}}));
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
  EXPECT_EQ(LinkPaths(*server, file.string()), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
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
  WritePackage(file, DocxWith({{"word/_rels/document.xml.rels", Rels(kLink)},
                               {"word/media/noise.bin", noise, true}}));
  const std::string before = ReadBytes(file);
  EXPECT_EQ(SetFirstLink(file), number::kDiskFull);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder / "disk"), std::vector<std::string>{"a.docx"});
}

TEST(NewPaths, ThatCannotBeStoredAsFileLinksAreRefused) {
  TempFolder folder;
  fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  std::unique_ptr<LinkedDocument> link = LinkAt(*document, 0);

  EXPECT_EQ(ErrorNumber([&] { link->SetPath(u""); }), number::kInvalidArgument);
  EXPECT_EQ(ErrorNumber([&] { link->SetPath(u"https://example.com/plan.xlsx"); }),
            number::kUnwritablePath);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(link->AbsolutePath(), u"C:\\Data\\plan.xlsx");

  // Other separators name the same file.
  link->SetPath(u"D:/Data/plan.xlsx");
  EXPECT_EQ(LinkPaths(*server, file.string()), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
}

TEST(ChangedOnDisk, AFileChangedBySomeoneElseIsNotOverwritten) {
  TempFolder folder;
  fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  std::unique_ptr<LinkedDocument> link = LinkAt(*document, 0);

  WritePackage(folder / "other.docx", DocxWith({{"word/_rels/document.xml.rels", Rels("")}}));
  fs::rename(folder / "other.docx", file);
  const std::string theirs = ReadBytes(file);
  EXPECT_EQ(ErrorNumber([&] { link->SetPath(u"D:\\Data\\plan.xlsx"); }), number::kDocumentChanged);
  EXPECT_EQ(ReadBytes(file), theirs);
}

}  // namespace
}  // namespace quavelle::docserver::testing
