#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "PackageFixture.h"
#include "Unprivileged.h"
#include "ZipLayout.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver::testing {
namespace {

namespace number = quavelle::docserver::error_number;
using quavelle::testing::RunUnprivileged;

std::int32_t OpenAndListError(const fs::path& file, ServerOptions options = {}) {
  auto server = CreateBuiltinDocumentServer(std::move(options));
  return ErrorNumber([&] { server->Open(U16(file.string()))->LinkedDocuments(); });
}

TEST(UnreadableFiles, MissingFileAndPipeFailWithoutWaiting) {
  TempFolder folder;
  EXPECT_EQ(OpenAndListError(folder / "missing.docx"), number::kFileNotFound);
  // Nobody writes into this pipe: opening it must not wait for a writer.
  ASSERT_EQ(::mkfifo((folder / "pipe.docx").c_str(), 0644), 0);
  EXPECT_EQ(OpenAndListError(folder / "pipe.docx"), number::kPathFileAccessError);
}

TEST(UnwritableDocuments, AreRefusedAndLeftAsTheyWere) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  TempFolder root;
  fs::permissions(root.path(), fs::perms(0755));
  const fs::path folder = root / "shared";
  fs::create_directory(folder);
  const fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  const std::string before = ReadBytes(file);

  // A file without a write bit is read-only even to root.
  fs::permissions(file, fs::perms(0444));
  EXPECT_EQ(SetFirstLink(file, u"D:\\Data\\plan.xlsx"), number::kPermissionDenied);

  // A writable file in a folder the user may not write: no temporary file can go beside it.
  fs::permissions(file, fs::perms(0666));
  fs::permissions(folder, fs::perms(0555));
  EXPECT_EQ(RunUnprivileged([&] { return SetFirstLink(file, u"D:\\Data\\plan.xlsx"); }),
            number::kPermissionDenied);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder), std::vector<std::string>{"a.docx"});
}

TEST(InterruptedWrite, LeavesTheDocumentAsItWasAndNoTemporaryFile) {
  TempFolder folder;
  fs::path file = folder / "a.docx";
  std::vector<Entry> entries = LinkedWord();
  entries.push_back({"word/media/big.bin", std::string(200000, 'x')});
  WritePackage(file, entries);
  const std::string before = ReadBytes(file);
  bool failing = true;
  int writes = 0;
  ServerOptions options;
  options.faultHook = [&](ReplaceStep step) {
    // The disk fills after some bytes went out.
    return failing && step == ReplaceStep::Write && ++writes >= 3 ? ENOSPC : 0;
  };
  auto server = CreateBuiltinDocumentServer(options);
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  EnumeratedLinks links(*document);
  links[0].SetPath(u"D:\\Data\\plan.xlsx");

  EXPECT_EQ(ErrorNumber([&] { links.Finish(); }), number::kDiskFull);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{"a.docx"});

  failing = false;  // the same document works once the fault is gone
  EXPECT_EQ(LinkPaths(*document), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
  EXPECT_EQ(LinkPaths(file), std::vector<std::u16string>{u"D:\\Data\\plan.xlsx"});
}

TEST(ConcurrentSave, WhileTheNewVersionIsWrittenIsKept) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WritePackage(file, LinkedWord());
  std::string theirs;
  ServerOptions options;
  options.faultHook = [&](ReplaceStep step) {
    if (step == ReplaceStep::Sync) {  // someone saves while ours is being flushed
      std::vector<Entry> entries = LinkedWord();
      entries.push_back({"word/saved.xml", "<saved/>"});
      WritePackage(file, entries);
      theirs = ReadBytes(file);
    }
    return 0;
  };
  auto server = CreateBuiltinDocumentServer(options);
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  EXPECT_EQ(ErrorNumber([&] { SetPathAt(*document, 0, u"D:\\Data\\plan.xlsx"); }),
            number::kDocumentChanged);
  EXPECT_EQ(ReadBytes(file), theirs);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{"a.docx"});
}

TEST(SignedDocument, IsRefusedAndLeftAsItWas) {
  TempFolder folder;
  fs::path file = folder / "signed.docx";
  std::vector<Entry> entries = LinkedWord();
  entries.push_back({"_xmlsignatures/sig1.xml", "<Signature/>"});
  WritePackage(file, entries);
  const std::string before = ReadBytes(file);
  EXPECT_EQ(SetFirstLink(file, u"D:\\Data\\plan.xlsx"), number::kSignedDocument);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{"signed.docx"});
}

std::string PackageBytes(const std::vector<Entry>& entries) {
  TempFolder scratch;
  WritePackage(scratch / "p.zip", entries);
  return ReadBytes(scratch / "p.zip");
}

struct DamageCase {
  const char* fileName;
  std::string bytes;
  std::int32_t expected;
};

class DamagedPackage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedPackage, FailsWithItsNumberAndStaysUntouched) {
  const DamageCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  { std::ofstream(file, std::ios::binary) << c.bytes; }
  ServerOptions options;
  options.maxPartSize = 64 << 10;
  EXPECT_EQ(OpenAndListError(file, options), c.expected);
  EXPECT_EQ(ReadBytes(file), c.bytes);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{c.fileName});
}

std::vector<DamageCase> DamageCases() {
  const std::string word = PackageBytes(LinkedWord());
  std::vector<Entry> malformed = LinkedWord();
  malformed.back().data += "<x>";
  // How a password-protected package is laid out: the manifest says how each
  // part was encrypted, and the parts hold what the cipher made of them.
  const std::string manifest =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest:manifest "
      "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
      "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:size=\"2920\">"
      "<manifest:encryption-data manifest:checksum-type=\"SHA1/1K\" "
      "manifest:checksum=\"KJ3yuRQQ8tbKzdSG8dGqsU3aeAE=\"><manifest:algorithm "
      "manifest:algorithm-name=\"http://www.w3.org/2001/04/xmlenc#aes256-cbc\" "
      "manifest:initialisation-vector=\"1FjFDZE5XU8K9oKQzK6Whg==\"/>"
      "</manifest:encryption-data></manifest:file-entry></manifest:manifest>";
  std::string cipher(2928, '\0');
  for (std::size_t i = 0; i < cipher.size(); ++i) cipher[i] = static_cast<char>(i * 7919 >> 3);
  const std::vector<Entry> encrypted = {
      {"mimetype", "application/vnd.oasis.opendocument.text", true},
      {"content.xml", cipher, true},
      {"meta.xml", OdfContent("")},
      {"META-INF/manifest.xml", manifest}};
  return {
      {"a.docx", "plain text, not a package\n", number::kNotAPackage},
      // A compound file is read as one, whatever its name; this one's header is empty.
      {"a.docx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4088, '\0'),
       number::kDamagedPackage},
      {"a.docx", word.substr(0, word.size() * 2 / 3), number::kDamagedPackage},
      {"a.docx", PackageBytes(malformed), number::kMalformedPart},
      {"a.odt",
       PackageBytes(OdtWith({{"content.xml",
                              "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaa\"><!ENTITY b "
                              "\"&a;&a;&a;&a;\">]><d>&b;</d>"}})),
       number::kDocTypeInPart},
      {"a.odt",
       PackageBytes(OdtWith({{"content.xml",
                              "<?xml version=\"1.0\"?><!DOCTYPE d SYSTEM \"d.dtd\" [<!ENTITY "
                              "a \"file:///C:/x.odt\">]><d>&a;</d>"}})),
       number::kDocTypeInPart},
      {"a.odt",
       PackageBytes(
           OdtWith({{"content.xml", OdfContent("<!--" + std::string(1 << 20, ' ') + "-->")}})),
       number::kPartTooLarge},
      // The directory lies about a part: its checksum, or its size (within and past the
      // limit). Data that matches its checksum is read as it is, whatever size was declared.
      {"a.docx", WithEntryField(word, "_rels/.rels", kCentralCrc, kLocalCrc, 0x12345678),
       number::kDamagedPackage},
      {"a.docx", WithEntryField(word, "_rels/.rels", kCentralSize, kLocalSize, 10), 0},
      {"a.odt",
       WithEntryField(
           PackageBytes(
               OdtWith({{"content.xml", OdfContent("<!--" + std::string(1 << 20, ' ') + "-->")}})),
           "content.xml", kCentralSize, kLocalSize, 100),
       number::kPartTooLarge},
      {"a.odt", PackageBytes(encrypted), number::kEncryptedDocument},
      {"a.odt", PackageBytes(OdtWith({{"encrypted-package", cipher, true}})),
       number::kEncryptedDocument},
  };
}

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedPackage, ::testing::ValuesIn(DamageCases()));

}  // namespace
}  // namespace quavelle::docserver::testing
