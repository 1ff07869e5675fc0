#include <gtest/gtest.h>
#include <stdlib.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "services/Text.h"
#include "services/docserver/LinkTarget.h"

// An office suite reads the references we write and saves them in its own form;
// reading its form must give the paths we meant. Runs only where the suite is
// installed.
namespace quavelle::docserver {
namespace {

namespace fs = std::filesystem;

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "linktarget-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::optional<fs::path> FindOfficeSuite() {
  const char* pathVariable = std::getenv("PATH");
  std::stringstream folders(pathVariable ? pathVariable : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path candidate = fs::path(folder) / "soffice";
    if (!folder.empty() && fs::exists(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string XmlUnescape(std::string text) {
  for (const auto& [entity, plain] : std::vector<std::pair<std::string, std::string>>{
           {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}}) {
    for (std::size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + plain.size())) {
      text.replace(at, entity.size(), plain);
    }
  }
  return text;
}

struct Rewrite {
  std::u16string stored;
  std::u16string newPath;
  std::u16string expected;  // what reading the suite's form gives; newPath when empty
};

void WriteFile(const fs::path& path, std::string_view content) {
  std::ofstream file(path, std::ios::binary);
  file << content;
}

struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

// Stored entries are enough for the suite; content must outlive the call.
bool WriteZip(const fs::path& path,
              const std::vector<std::pair<std::string, std::string>>& entries) {
  int error = 0;
  std::unique_ptr<zip_t, ZipDiscard> archive(
      zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive) return false;
  for (const auto& [name, content] : entries) {
    zip_source_t* source = zip_source_buffer(archive.get(), content.data(), content.size(), 0);
    if (source == nullptr) return false;
    if (zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      return false;
    }
  }
  if (zip_close(archive.get()) != 0) return false;
  archive.release();  // closed, nothing left to discard
  return true;
}

// Each case writes the rewritten references into a document in "in/", has the
// suite save it as a flat document in "out/", and reads the suite's references
// back from there.
class OfficeSuiteReadBack : public testing::Test {
 protected:
  void SetUp() override {
    suite_ = FindOfficeSuite();
    if (!suite_) GTEST_SKIP() << "no office suite installed";
    ASSERT_FALSE(temp_.path().empty());
    fs::create_directories(temp_.path() / "in");
    fs::create_directories(temp_.path() / "out");
    root_ = FromUtf8(temp_.path().string());
  }

  // The rewritten references, each with the suffix it kept.
  std::vector<std::u16string> RewriteAll(const std::vector<Rewrite>& rewrites,
                                         const TargetContext& context) {
    std::vector<std::u16string> written;
    suffixes_.clear();
    for (const auto& rewrite : rewrites) {
      const std::optional<LinkTarget> target = ParseLinkTarget(rewrite.stored, context);
      EXPECT_TRUE(target) << ToUtf8(rewrite.stored);
      if (!target) return {};
      suffixes_.push_back(target->suffix);
      written.push_back(FormatLinkTarget(*target, rewrite.newPath, context));
    }
    return written;
  }

  std::vector<std::string> ConvertAndReadHrefs(const std::string& input) {
    const std::string folder = temp_.path().string();
    const std::string command = "HOME='" + folder + "' '" + suite_->string() +
                                "' --headless --norestore -env:UserInstallation=file://" + folder +
                                "/profile --convert-to fodt --outdir '" + folder + "/out' '" +
                                folder + "/in/" + input + "' >'" + folder + "/log.txt' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const fs::path saved = temp_.path() / "out" / fs::path(input).replace_extension(".fodt");
    std::ifstream file(saved, std::ios::binary);
    EXPECT_TRUE(file) << "the suite wrote nothing";
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    const std::regex href("xlink:href=\"([^\"]*)\"");
    std::vector<std::string> hrefs;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), href);
         it != std::sregex_iterator(); ++it) {
      hrefs.push_back(XmlUnescape((*it)[1]));
    }
    return hrefs;
  }

  void ExpectNewPaths(const std::vector<std::string>& hrefs, const std::vector<Rewrite>& rewrites) {
    ASSERT_EQ(hrefs.size(), rewrites.size());
    const TargetContext flat{TargetSyntax::OpenDocument, root_ + u"/out", u""};
    for (std::size_t i = 0; i < rewrites.size(); ++i) {
      const std::optional<LinkTarget> reread = ParseLinkTarget(FromUtf8(hrefs[i]), flat);
      ASSERT_TRUE(reread) << hrefs[i];
      const std::u16string& expected =
          rewrites[i].expected.empty() ? rewrites[i].newPath : rewrites[i].expected;
      EXPECT_EQ(ToUtf8(reread->absolutePath), ToUtf8(expected)) << hrefs[i];
      EXPECT_EQ(ToUtf8(reread->suffix), ToUtf8(suffixes_[i])) << hrefs[i];
    }
  }

  TemporaryFolder temp_;
  std::optional<fs::path> suite_;
  std::u16string root_;
  std::vector<std::u16string> suffixes_;
};

// On this POSIX machine the suite takes file:///D:/... as the folder "/D:", and
// makes references to this machine's files relative to the saved document.
TEST_F(OfficeSuiteReadBack, ReadsRewrittenOpenDocumentReferencesAsTheNewPaths) {
  const std::vector<Rewrite> rewrites = {
      {u"file:///C:/Data/%C3%BCber%20plan.odt", root_ + u"/data/über plan 😀.odt", u""},
      {u"file:///C:/My Docs/a.odt", root_ + u"/data/My Docs/b.odt", u""},
      {u"../x.odt#Top", root_ + u"/data/100% #1?.odt", u""},
      {u"file://srv1/proj/a.odt", u"\\\\srv2\\proj\\new plan.odt", u""},
      {u"file:///C:/Data/plan.ods#Sheet1", u"D:\\Data\\plan v2.ods", u"/D:/Data/plan v2.ods"},
      {u"../x.odt", u"\\\\srv3\\share\\y.odt", u""},
  };
  const TargetContext flat{TargetSyntax::OpenDocument, root_ + u"/in", u""};
  std::string body;
  for (const std::u16string& written : RewriteAll(rewrites, flat)) {
    body += "<text:p><text:a xlink:type=\"simple\" xlink:href=\"" + XmlEscape(ToUtf8(written)) +
            "\">link</text:a></text:p>\n";
  }
  WriteFile(temp_.path() / "in" / "links.fodt",
            R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3"
 office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
)" + body + "</office:text></office:body></office:document>\n");

  ExpectNewPaths(ConvertAndReadHrefs("links.fodt"), rewrites);
}

// Relative references count from the folder that holds the package. Shares are
// left out: on a POSIX machine the suite turns file:///\\srv\... into a local path.
TEST_F(OfficeSuiteReadBack, ReadsRewrittenOfficeOpenXmlReferencesAsTheNewPaths) {
  const std::vector<Rewrite> rewrites = {
      {u"file:///C:\\Data\\a%20b.docx", root_ + u"/data/100% #1?.docx", u""},
      {u"../Data/rel%20doc.docx", root_ + u"/data/new doc ü.docx", u""},
      {u"/contratacion/GM.xlsx", root_ + u"/data/root rel.xlsx", u""},
      {u"file:///C:/Data/plan.xlsx#Sheet1", u"D:\\Data\\plan v2.xlsx", u"/D:/Data/plan v2.xlsx"},
      {u"x.docx", u"D:\\x y.docx", u"/D:/x y.docx"},
  };
  const TargetContext package{TargetSyntax::OfficeOpenXml, root_ + u"/in", u""};
  std::string relationships;
  std::string paragraphs;
  int id = 0;
  for (const std::u16string& written : RewriteAll(rewrites, package)) {
    const std::string rid = "rId" + std::to_string(++id);
    relationships += "<Relationship Id=\"" + rid +
                     "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                     "relationships/hyperlink\" TargetMode=\"External\" Target=\"" +
                     XmlEscape(ToUtf8(written)) + "\"/>";
    paragraphs +=
        "<w:p><w:hyperlink r:id=\"" + rid + "\"><w:r><w:t>link</w:t></w:r></w:hyperlink></w:p>";
  }
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  ASSERT_TRUE(WriteZip(
      temp_.path() / "in" / "links.docx",
      {{"[Content_Types].xml",
        declaration +
            R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
            R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
            R"(<Default Extension="xml" ContentType="application/xml"/>)"
            R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)"},
       {"_rels/.rels",
        declaration +
            R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
            R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)"},
       {"word/_rels/document.xml.rels",
        declaration +
            R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)" +
            relationships + "</Relationships>"},
       {"word/document.xml",
        declaration +
            R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")"
            R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body>)" +
            paragraphs + "</w:body></w:document>"}}));

  ExpectNewPaths(ConvertAndReadHrefs("links.docx"), rewrites);
}

}  // namespace
}  // namespace quavelle::docserver
