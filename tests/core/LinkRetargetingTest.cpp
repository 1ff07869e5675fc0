#include "core/LinkRetargeting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle {
namespace {

using namespace ::testing;
using Calls = std::vector<std::string>;
using Row = std::tuple<std::u16string, std::u16string, std::u16string>;
using Paths = std::vector<std::u16string>;
constexpr char16_t kFullName[] = u"C:\\Tree\\Report.doc";

// Everything a run talks to. Calls are logged as "Member(argument)"; call failAt throws.
struct Scripted : DocumentServer, FileSystemService, WalkGuard, ResultsList {
  Calls calls;
  std::size_t failAt = 0;
  bool openGivesNothing = false, linkCollection = true;
  std::map<std::u16string, Paths> links;                      // each document's links
  std::map<std::u16string, std::u16string> drives;            // unlisted: no drive
  std::map<std::u16string, std::pair<Paths, Paths>> folders;  // files, subfolders
  std::set<std::u16string> seen;
  std::vector<Row> rows;

  void Record(const char* member, const std::u16string& argument = {}) {
    calls.push_back(std::string(member) + "(" + ToUtf8(argument) + ")");
    if (calls.size() == failAt) throw ServiceError(1234, u"Scripted failure");
  }
  std::unique_ptr<Document> Open(const std::u16string& path) override;
  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override;
  std::u16string GetDriveName(const std::u16string& path) override {
    Record("GetDriveName", path);
    return drives[path];
  }
  bool DriveExists(const std::u16string&) override { return false; }
  bool FirstVisit(const std::u16string& path) override { return seen.insert(path).second; }
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& container) override {
    Record("AppendRow", oldPath);
    rows.emplace_back(oldPath, newPath, container);
  }
};

template <class T, class Made>
struct Listed : Collection<T>, Enumerator<T> {
  Scripted& run;
  Paths paths;
  std::size_t next = 0;
  Listed(Scripted& r, Paths p) : run(r), paths(std::move(p)) {}
  std::unique_ptr<Enumerator<T>> NewEnum() override { return std::make_unique<Listed>(*this); }
  std::unique_ptr<T> Next() override {
    if (next < paths.size()) return std::make_unique<Made>(run, paths[next++]);
    // Where a server may write what was re-pointed.
    if constexpr (std::is_same_v<T, LinkedDocument>) run.Record("EndOfLinks");
    return nullptr;
  }
};

// Any object the services hand out, known by its path.
struct Object : Document, LinkedDocument, File, Folder {
  Scripted& run;
  std::u16string path;
  Object(Scripted& r, std::u16string p) : run(r), path(std::move(p)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
    run.Record("LinkedDocuments");
    if (!run.linkCollection) return nullptr;
    return std::make_unique<Listed<LinkedDocument, Object>>(run, run.links[path]);
  }
  std::u16string FullName() override {
    run.Record("FullName");
    return kFullName;
  }
  std::u16string AbsolutePath() override {
    run.Record("AbsolutePath");
    return path;
  }
  void SetPath(std::u16string newPath) override { run.Record("SetPath", newPath); }
  std::u16string Path() override { return path; }
  std::unique_ptr<Collection<File>> Files() override {
    return std::make_unique<Listed<File, Object>>(run, run.folders.at(path).first);
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    run.Record("subfolders");
    return std::make_unique<Listed<Folder, Object>>(run, run.folders.at(path).second);
  }
};

std::unique_ptr<Document> Scripted::Open(const std::u16string& path) {
  Record("Open", path);
  return openGivesNothing ? nullptr : std::make_unique<Object>(*this, path);
}

std::unique_ptr<Folder> Scripted::GetFolder(const std::u16string& path) {
  Record("GetFolder", path);
  return std::make_unique<Object>(*this, path);
}

// A matching share, a drive whose path alone holds the text, and no drive.
void ProcessReport(Scripted& run, std::u16string oldDrive = u"SRV") {
  run.links[u"C:\\Tree\\report.doc"] = {u"\\\\srv1\\proj\\a.doc", u"C:\\srv\\b.doc", u"rel.doc"};
  run.drives = {{u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj"}, {u"C:\\srv\\b.doc", u"C:"}};
  RunContext ctx{std::move(oldDrive), u"nas", run, run, run, run};
  ProcessFile(ctx, u"C:\\Tree\\report.doc");
}

TEST(ProcessFile, RepointsAndListsEachMatchingLinkInTurn) {
  Scripted run;
  ProcessReport(run);
  EXPECT_EQ(run.calls, (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()",        //
                              "AbsolutePath()", "GetDriveName(\\\\srv1\\proj\\a.doc)",  //
                              "SetPath(\\\\nas1\\proj\\a.doc)", "FullName()",           //
                              "AbsolutePath()", "GetDriveName(C:\\srv\\b.doc)",         //
                              "AbsolutePath()", "GetDriveName(rel.doc)",                //
                              "EndOfLinks()", "AppendRow(\\\\srv1\\proj\\a.doc)"}));
  EXPECT_EQ(run.rows,
            (std::vector<Row>{{u"\\\\srv1\\proj\\a.doc", u"\\\\nas1\\proj\\a.doc", kFullName}}));
}

TEST(ProcessFile, EmptyCurrentTextRepointsEveryLinkWithADriveToItsOwnPath) {
  Scripted run;
  ProcessReport(run, u"");
  EXPECT_THAT(run.calls, Contains("SetPath(C:\\srv\\b.doc)"));
  EXPECT_EQ(run.rows,
            (std::vector<Row>{{u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj\\a.doc", kFullName},
                              {u"C:\\srv\\b.doc", u"C:\\srv\\b.doc", kFullName}}));
}

TEST(ProcessFile, NoLinkCollectionEndsTheFileWithoutARow) {
  Scripted run;
  run.linkCollection = false;
  ProcessReport(run);
  EXPECT_EQ(run.calls, (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()"}));
  EXPECT_TRUE(run.rows.empty());
}

TEST(ProcessFile, OpenGivingNoObjectFailsAsObjectNotSet) {
  Scripted run;
  run.openGivesNothing = true;
  EXPECT_THAT(
      [&] { ProcessReport(run); },
      Throws<ServiceError>(AllOf(Property(&ServiceError::number, error_number::kObjectNotSet),
                                 Property(&ServiceError::description,
                                          u"Object variable or With block variable not set"))));
}

TEST(ProcessFile, AFailingCallReachesTheCallerAndEndsTheFileListingNoneOfItsRows) {
  Scripted run;
  run.failAt = 8;  // GetDriveName of the second link, after the first was re-pointed
  EXPECT_THAT(
      [&] { ProcessReport(run); },
      Throws<ServiceError>(AllOf(Property(&ServiceError::number, 1234),
                                 Property(&ServiceError::description, u"Scripted failure"))));
  EXPECT_EQ(run.calls.size(), 8u);
  EXPECT_TRUE(run.rows.empty()) << "the document's links may not have been written";
}

// s2 links back to the top, b.doc is reached twice, d.doc was met earlier in the run.
TEST(ProcessFolder, HandlesFilesBeforeSubfoldersDepthFirstEachOnce) {
  Scripted run;
  run.folders = {{u"c:\\T\\", {{u"T\\z.doc", u"T\\a.doc"}, {u"T\\s2", u"T\\s1"}}},
                 {u"T\\s2", {{u"T\\s2\\b.doc"}, {u"T\\s2\\deep", u"c:\\T\\"}}},
                 {u"T\\s2\\deep", {{u"T\\s2\\b.doc"}, {}}},
                 {u"T\\s1", {{u"T\\s1\\d.doc"}, {}}}};
  run.seen.insert(u"T\\s1\\d.doc");
  RunContext ctx{u"C:", u"D:", run, run, run, run};
  ProcessFolder(ctx, u"c:\\T\\");
  EXPECT_EQ(run.calls,
            (Calls{"GetFolder(c:\\T\\)", "Open(T\\z.doc)", "LinkedDocuments()", "EndOfLinks()",
                   "Open(T\\a.doc)", "LinkedDocuments()", "EndOfLinks()", "subfolders()",
                   "GetFolder(T\\s2)", "Open(T\\s2\\b.doc)", "LinkedDocuments()", "EndOfLinks()",
                   "subfolders()", "GetFolder(T\\s2\\deep)", "subfolders()", "GetFolder(T\\s1)",
                   "subfolders()"}));
}

}  // namespace
}  // namespace quavelle
