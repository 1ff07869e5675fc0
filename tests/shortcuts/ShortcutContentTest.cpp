#include "services/docserver/ShortcutContent.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "CaughtError.h"
#include "TempFolder.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/InternetShortcutContent.h"
#include "services/docserver/ShellLinkContent.h"

namespace quavelle::docserver {
namespace {

namespace fs = std::filesystem;

using testing::FailsNaming;

const fs::path kFixtures = QUAVELLE_SHORTCUT_FIXTURES;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::u16string Text(const fs::path& path) { return NativePathToText(path.string()); }

// Opens path as the server does and loads it into a content for its extension.
std::unique_ptr<DocumentContent> Loaded(const fs::path& path, DocumentFile& file) {
  auto content = ShortcutContentForExtension(Text(path.extension()), Text(path));
  if (!content) throw std::runtime_error("no content for " + path.string());
  file = DocumentFile::Open(Text(path));
  content->Load(file);
  return content;
}

std::vector<std::string> Links(DocumentContent& content) {
  std::vector<std::string> links;
  const std::size_t count = content.ListLinks();
  for (std::size_t i = 0; i < count; ++i) links.push_back(ToUtf8(content.AbsolutePath(i)));
  return links;
}

// Writes the re-pointed file where the server would, beside the document.
fs::path WriteBeside(DocumentContent& content, const fs::path& document,
                     const FaultHook& hook = nullptr) {
  const fs::path out = document.parent_path() / ("new" + document.extension().string());
  UniqueFd fd(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) throw std::runtime_error("cannot create " + out.string());
  content.WriteChanged(fd.get(), hook);
  return out;
}

struct FileCase {
  const char* name;
  std::string fixture;  // a file in fixtures/, or inline bytes with the extension below
  std::string inlineBytes;
  std::string extension;
  std::vector<std::string> before;
  std::u16string newPath;  // for link 0
};
void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }

class ShortcutFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(ShortcutFiles, RepointWriteAndReadBack) {
  const FileCase& c = GetParam();
  testing::TempFolder folder;
  const fs::path document = folder / ("shortcut" + c.extension);
  WriteBytes(document, c.fixture.empty() ? c.inlineBytes : ReadBytes(kFixtures / c.fixture));
  const std::string original = ReadBytes(document);

  DocumentFile file = DocumentFile::Open(Text(document));
  auto content = Loaded(document, file);
  ASSERT_EQ(Links(*content), c.before);
  EXPECT_EQ(testing::ErrorNumber([&] { content->AbsolutePath(c.before.size()); }), 5)
      << "no such link";
  if (c.before.empty()) {
    EXPECT_FALSE(content->HasChanges());
    return;
  }
  content->Repoint(0, c.newPath);
  EXPECT_TRUE(content->HasChanges());
  EXPECT_EQ(ToUtf8(content->AbsolutePath(0)), ToUtf8(c.newPath));
  const fs::path written = WriteBeside(*content, document);
  EXPECT_EQ(ReadBytes(document), original) << "the document itself is never written";

  DocumentFile newFile = DocumentFile::Open(Text(written));
  auto reread = Loaded(written, newFile);
  std::vector<std::string> after = c.before;
  after[0] = ToUtf8(c.newPath);
  EXPECT_EQ(Links(*reread), after);
  content->Committed(newFile);
  EXPECT_FALSE(content->HasChanges());
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, ShortcutFiles,
    ::testing::Values(
        FileCase{"ShellDrive",
                 "shell-drive.lnk",
                 "",
                 ".lnk",
                 {"C:\\Data\\plan.docx"},
                 u"D:\\Data\\plan.docx"},
        FileCase{"ShellShare",
                 "shell-share.lnk",
                 "",
                 ".lnk",
                 {"\\\\srv1\\proj\\plan.docx"},
                 u"\\\\srv2\\projects\\plan.docx"},
        FileCase{"InternetShortcut",
                 "",
                 "[InternetShortcut]\r\nURL=file://srv1/proj/a.pdf\r\nIconFile=C:\\a.ico\r\n",
                 ".url",
                 {"\\\\srv1\\proj\\a.pdf", "C:\\a.ico"},
                 u"\\\\srv2\\proj\\a.pdf"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShortcutContentTest, RefusalLeavesFileAndContentAsTheyWere) {
  for (const auto& [fixture, newPath] : std::vector<std::pair<std::string, std::u16string>>{
           {"shell-drive.lnk", u"\\\\srv2\\c\\Data\\plan.docx"},
           {"shell-drive.lnk", u"D:\\Other\\plan.docx"},
           {"shell-share.lnk", u"\\\\srv2\\\u8a08\u753b\\plan.docx"}}) {
    SCOPED_TRACE(fixture);
    testing::TempFolder folder;
    const fs::path document = folder / "refused.lnk";
    WriteBytes(document, ReadBytes(kFixtures / fixture));
    const std::string original = ReadBytes(document);
    DocumentFile file = DocumentFile::Open(Text(document));
    auto content = Loaded(document, file);
    const std::u16string before = content->AbsolutePath(0);
    EXPECT_TRUE(FailsNaming(1009, Text(document), [&] { content->Repoint(0, newPath); }));
    EXPECT_FALSE(content->HasChanges());
    EXPECT_EQ(content->AbsolutePath(0), before);
    EXPECT_EQ(ReadBytes(document), original);
  }
}

TEST(ShortcutContentTest, DamagedShortcutFailsToLoad) {
  testing::TempFolder folder;
  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"truncated.lnk", ReadBytes(kFixtures / "shell-drive.lnk").substr(0, 200)},
           {"empty.lnk", ""},
           {"text.lnk", "[InternetShortcut]\r\nURL=file:///C:/a.pdf\r\n"}}) {
    WriteBytes(folder / name, bytes);
    DocumentFile file = DocumentFile::Open(Text(folder / name));
    auto content = ShortcutContentForExtension(u".lnk", Text(folder / name));
    EXPECT_TRUE(FailsNaming(1003, Text(folder / name), [&] { content->Load(file); })) << name;
  }
}

TEST(ShortcutContentTest, WriteFailureNamesTheDocument) {
  testing::TempFolder folder;
  const fs::path document = folder / "plan.lnk";
  WriteBytes(document, ReadBytes(kFixtures / "shell-drive.lnk"));
  DocumentFile file = DocumentFile::Open(Text(document));
  auto content = Loaded(document, file);
  content->Repoint(0, u"E:\\Data\\plan.docx");
  EXPECT_TRUE(FailsNaming(61, Text(document), [&] {
    WriteBeside(*content, document,
                [](ReplaceStep step) { return step == ReplaceStep::Write ? ENOSPC : 0; });
  }));
}

TEST(ShortcutContentTest, ExtensionsPickTheirContent) {
  EXPECT_NE(dynamic_cast<ShellLinkContent*>(ShortcutContentForExtension(u".LNK", u"a").get()),
            nullptr);
  EXPECT_NE(dynamic_cast<ShellLinkContent*>(ShortcutContentForExtension(u"lnk", u"a").get()),
            nullptr);
  EXPECT_NE(
      dynamic_cast<InternetShortcutContent*>(ShortcutContentForExtension(u".Url", u"a").get()),
      nullptr);
  EXPECT_EQ(ShortcutContentForExtension(u".docx", u"a"), nullptr);
  EXPECT_EQ(ShortcutContentForExtension(u".lnk2", u"a"), nullptr);
}

}  // namespace
}  // namespace quavelle::docserver
