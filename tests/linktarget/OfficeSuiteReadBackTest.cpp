#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
  std::u16string newPath;   // relative to the temporary folder when it starts with '/'
  std::u16string expected;  // what reading the suite's form gives; newPath when empty
};

TEST(OfficeSuiteReadBack, SuiteReadsRewrittenReferencesAsTheNewPaths) {
  const std::optional<fs::path> suite = FindOfficeSuite();
  if (!suite) GTEST_SKIP() << "no office suite installed";
  const TemporaryFolder temp;
  ASSERT_FALSE(temp.path().empty());
  fs::create_directories(temp.path() / "in");
  fs::create_directories(temp.path() / "out");
  const std::u16string root = FromUtf8(temp.path().string());

  // On this POSIX machine the suite takes file:///D:/... as the folder "/D:".
  const std::vector<Rewrite> rewrites = {
      {u"file:///C:/Data/%C3%BCber%20plan.odt", root + u"/data/über plan 😀.odt", u""},
      {u"file:///C:/My Docs/a.odt", root + u"/data/My Docs/b.odt", u""},
      {u"../x.odt#Top", root + u"/data/100% #1?.odt", u""},
      {u"file://srv1/proj/a.odt", u"\\\\srv2\\proj\\new plan.odt", u""},
      {u"file:///C:/Data/plan.ods#Sheet1", u"D:\\Data\\plan v2.ods", u"/D:/Data/plan v2.ods"},
      {u"../x.odt", u"\\\\srv3\\share\\y.odt", u""},
  };
  const TargetContext writing{TargetSyntax::OpenDocument, root + u"/in", u""};
  const TargetContext reading{TargetSyntax::OpenDocument, root + u"/out", u""};

  std::string body;
  std::vector<std::u16string> suffixes;
  for (const Rewrite& rewrite : rewrites) {
    const std::optional<LinkTarget> target = ParseLinkTarget(rewrite.stored, writing);
    ASSERT_TRUE(target) << ToUtf8(rewrite.stored);
    suffixes.push_back(target->suffix);
    const std::u16string written = FormatLinkTarget(*target, rewrite.newPath, writing);
    body += "<text:p><text:a xlink:type=\"simple\" xlink:href=\"" + XmlEscape(ToUtf8(written)) +
            "\">link</text:a></text:p>\n";
  }
  {
    std::ofstream document(temp.path() / "in" / "links.fodt", std::ios::binary);
    document << R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3"
 office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
)" << body << "</office:text></office:body></office:document>\n";
  }

  const std::string folder = temp.path().string();
  const std::string command = "HOME='" + folder + "' '" + suite->string() +
                              "' --headless --norestore -env:UserInstallation=file://" + folder +
                              "/profile --convert-to fodt --outdir '" + folder + "/out' '" +
                              folder + "/in/links.fodt' >'" + folder + "/log.txt' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::ifstream saved(temp.path() / "out" / "links.fodt", std::ios::binary);
  ASSERT_TRUE(saved) << "the suite wrote nothing";
  const std::string text((std::istreambuf_iterator<char>(saved)), {});
  const std::regex href("xlink:href=\"([^\"]*)\"");
  std::vector<std::string> hrefs;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), href); it != std::sregex_iterator();
       ++it) {
    hrefs.push_back(XmlUnescape((*it)[1]));
  }
  ASSERT_EQ(hrefs.size(), rewrites.size());
  for (std::size_t i = 0; i < rewrites.size(); ++i) {
    const std::optional<LinkTarget> reread = ParseLinkTarget(FromUtf8(hrefs[i]), reading);
    ASSERT_TRUE(reread) << hrefs[i];
    const std::u16string& expected =
        rewrites[i].expected.empty() ? rewrites[i].newPath : rewrites[i].expected;
    EXPECT_EQ(ToUtf8(reread->absolutePath), ToUtf8(expected)) << hrefs[i];
    EXPECT_EQ(ToUtf8(reread->suffix), ToUtf8(suffixes[i])) << hrefs[i];
  }
}

}  // namespace
}  // namespace quavelle::docserver
