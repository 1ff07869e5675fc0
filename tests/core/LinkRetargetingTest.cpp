#include "core/LinkRetargeting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedServices.h"
#include "services/ServiceError.h"

namespace quavelle {
namespace {

using testing::Row;
using testing::ScriptedRun;
using Calls = std::vector<std::string>;

constexpr char16_t kDoc[] = u"C:\\Tree\\report.doc";
constexpr char16_t kFullName[] = u"C:\\Tree\\Report.doc";

// Links on two shares holding the current text, one on a drive whose path (but
// not drive name) holds it, one link twice, and one with no drive at all.
void ScriptReport(ScriptedRun& run) {
  run.documents[kDoc] = {kFullName,
                         {u"\\\\srv1\\proj\\a.doc", u"C:\\srv\\b.doc", u"\\\\srv2\\docs\\c.doc",
                          u"\\\\srv1\\proj\\a.doc", u"relative.doc"}};
  run.drives = {{u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj"},
                {u"C:\\srv\\b.doc", u"C:"},
                {u"\\\\srv2\\docs\\c.doc", u"\\\\srv2\\docs"}};
}

void ProcessReport(ScriptedRun& run, std::u16string oldDrive = u"SRV") {
  RunContext ctx = run.Context(std::move(oldDrive), u"nas");
  ProcessFile(ctx, kDoc);
}

TEST(ProcessFile, RepointsAndListsEachMatchingLinkInTurn) {
  ScriptedRun run;
  ScriptReport(run);
  ProcessReport(run);
  EXPECT_EQ(run.calls, (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()",        //
                              "AbsolutePath()", "GetDriveName(\\\\srv1\\proj\\a.doc)",  //
                              "SetPath(\\\\nas1\\proj\\a.doc)", "FullName()",           //
                              "AbsolutePath()", "GetDriveName(C:\\srv\\b.doc)",         //
                              "AbsolutePath()", "GetDriveName(\\\\srv2\\docs\\c.doc)",  //
                              "SetPath(\\\\nas2\\docs\\c.doc)", "FullName()",           //
                              "AbsolutePath()", "GetDriveName(\\\\srv1\\proj\\a.doc)",  //
                              "SetPath(\\\\nas1\\proj\\a.doc)", "FullName()",           //
                              "AbsolutePath()", "GetDriveName(relative.doc)"}));
  EXPECT_EQ(run.rows,
            (std::vector<Row>{{u"\\\\srv1\\proj\\a.doc", u"\\\\nas1\\proj\\a.doc", kFullName},
                              {u"\\\\srv2\\docs\\c.doc", u"\\\\nas2\\docs\\c.doc", kFullName},
                              {u"\\\\srv1\\proj\\a.doc", u"\\\\nas1\\proj\\a.doc", kFullName}}));
}

TEST(ProcessFile, EmptyCurrentTextRepointsEveryLinkWithADriveToItsOwnPath) {
  ScriptedRun run;
  ScriptReport(run);
  ProcessReport(run, u"");
  EXPECT_EQ(run.Only({"SetPath"}),
            (Calls{"SetPath(\\\\srv1\\proj\\a.doc)", "SetPath(C:\\srv\\b.doc)",
                   "SetPath(\\\\srv2\\docs\\c.doc)", "SetPath(\\\\srv1\\proj\\a.doc)"}));
  EXPECT_EQ(run.rows.size(), 4u);
  EXPECT_EQ(run.rows[1], (Row{u"C:\\srv\\b.doc", u"C:\\srv\\b.doc", kFullName}));
}

TEST(ProcessFile, NoLinkCollectionEndsTheFileWithoutARow) {
  ScriptedRun run;
  ScriptReport(run);
  run.documents[kDoc].linkCollection = false;
  ProcessReport(run);
  EXPECT_EQ(run.calls, (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()"}));
  EXPECT_TRUE(run.rows.empty());
}

TEST(ProcessFile, OpenGivingNoObjectFailsAsObjectNotSet) {
  ScriptedRun run;
  run.openGivesNothing = true;
  try {
    ProcessReport(run);
    FAIL() << "no error reached the caller";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kObjectNotSet);
    EXPECT_EQ(e.description(), u"Object variable or With block variable not set");
  }
}

TEST(ProcessFile, AFailureAtAnyCallEndsTheFileThereKeepingEarlierRows) {
  testing::ExpectEachFailureEndsTheRun(ScriptReport, [](ScriptedRun& run) { ProcessReport(run); });
}

// T holds two files and two subfolders; T\s2 links back to T, and b.doc is reached twice.
void ScriptTree(ScriptedRun& run) {
  run.documents[u"T\\a.doc"] = {u"T\\a.doc", {u"C:\\x.doc"}};
  run.drives[u"C:\\x.doc"] = u"C:";
  run.folders = {{u"c:\\T\\", {{u"T\\z.doc", u"T\\a.doc"}, {u"T\\s2", u"T\\s1"}}},
                 {u"T\\s2", {{u"T\\s2\\b.doc"}, {u"T\\s2\\deep", u"c:\\T\\"}}},
                 {u"T\\s2\\deep", {{u"T\\s2\\deep\\c.doc", u"T\\s2\\b.doc"}, {}}},
                 {u"T\\s1", {{u"T\\s1\\d.doc"}, {}}}};
}

void WalkTree(ScriptedRun& run) {
  RunContext ctx = run.Context(u"C:", u"D:");
  ProcessFolder(ctx, u"c:\\T\\");
}

TEST(ProcessFolder, HandlesFilesBeforeSubfoldersDepthFirstEachOnce) {
  ScriptedRun run;
  ScriptTree(run);
  run.seen.insert(u"T\\s1\\d.doc");  // already met earlier in the run
  WalkTree(run);
  EXPECT_EQ(
      run.Only({"GetFolder", "subfolders", "Open"}),
      (Calls{"GetFolder(c:\\T\\)", "Open(T\\z.doc)", "Open(T\\a.doc)", "subfolders()",
             "GetFolder(T\\s2)", "Open(T\\s2\\b.doc)", "subfolders()", "GetFolder(T\\s2\\deep)",
             "Open(T\\s2\\deep\\c.doc)", "subfolders()", "GetFolder(T\\s1)", "subfolders()"}));
}

TEST(ProcessFolder, AFailureAtAnyCallEndsTheWalkThere) {
  testing::ExpectEachFailureEndsTheRun(ScriptTree, WalkTree);
}

}  // namespace
}  // namespace quavelle
