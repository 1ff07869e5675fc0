#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedServices.h"
#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"

namespace quavelle {
namespace {

using testing::ScriptedRun;
using Calls = std::vector<std::string>;

class ProcessFolderTest : public ::testing::Test {
 protected:
  ScriptedRun run;
  void Document(const std::u16string& path) { run.server.documents[path] = {path, {}}; }
  void Walk(const std::u16string& path) {
    RunContext ctx = run.Context(u"C:", u"D:");
    ProcessFolder(ctx, path);
  }
};

TEST_F(ProcessFolderTest, FilesComeBeforeSubfoldersDepthFirstInServiceOrder) {
  run.fso.folders[u"T"] = {{u"T\\z.doc", u"T\\a.doc"}, {u"T\\s2", u"T\\s1"}};
  run.fso.folders[u"T\\s2"] = {{u"T\\s2\\f.doc"}, {u"T\\s2\\deep"}};
  run.fso.folders[u"T\\s2\\deep"] = {{u"T\\s2\\deep\\g.doc"}, {}};
  run.fso.folders[u"T\\s1"] = {{u"T\\s1\\h.doc"}, {}};
  for (auto p :
       {u"T\\z.doc", u"T\\a.doc", u"T\\s2\\f.doc", u"T\\s2\\deep\\g.doc", u"T\\s1\\h.doc"}) {
    Document(p);
  }
  Walk(u"T");
  EXPECT_EQ(run.log.CallsTo({"GetFolder", "Open"}),
            (Calls{"GetFolder(T)", "Open(T\\z.doc)", "Open(T\\a.doc)", "GetFolder(T\\s2)",
                   "Open(T\\s2\\f.doc)", "GetFolder(T\\s2\\deep)", "Open(T\\s2\\deep\\g.doc)",
                   "GetFolder(T\\s1)", "Open(T\\s1\\h.doc)"}));
  // The whole file collection is walked before the subfolder collection is asked for.
  EXPECT_EQ(run.log.calls()[0], "FirstVisit(T)");
  EXPECT_EQ(run.log.CallsTo({"Files", "subfolders"})[1], "subfolders()");
}

TEST_F(ProcessFolderTest, EmptyFolderOpensNothing) {
  run.fso.folders[u"E"] = {};
  Walk(u"E");
  EXPECT_EQ(run.log.calls(), (Calls{"FirstVisit(E)", "GetFolder(E)", "Files()", "subfolders()"}));
}

TEST_F(ProcessFolderTest, FolderPathGoesToTheServiceAsTyped) {
  run.fso.folders[u"c:\\TREE\\"] = {};
  Walk(u"c:\\TREE\\");
  EXPECT_EQ(run.log.CallsTo({"GetFolder"}), (Calls{"GetFolder(c:\\TREE\\)"}));
}

TEST_F(ProcessFolderTest, FoldersAndFilesAlreadyMetArePassedOver) {
  // s links back to T, and the second file entry names a document already handled.
  run.fso.folders[u"T"] = {{u"T\\a.doc", u"T\\a.doc"}, {u"T\\s"}};
  run.fso.folders[u"T\\s"] = {{u"T\\s\\b.doc"}, {u"T"}};
  Document(u"T\\a.doc");
  Document(u"T\\s\\b.doc");
  run.guard.seen.insert(u"T\\s\\b.doc");
  Walk(u"T");
  EXPECT_EQ(run.log.CallsTo({"GetFolder", "Open"}),
            (Calls{"GetFolder(T)", "Open(T\\a.doc)", "GetFolder(T\\s)"}));
}

TEST_F(ProcessFolderTest, AFailingFileEndsTheWalk) {
  run.fso.folders[u"T"] = {{u"T\\a.doc", u"T\\missing.doc", u"T\\c.doc"}, {u"T\\s"}};
  run.fso.folders[u"T\\s"] = {};
  Document(u"T\\a.doc");
  Document(u"T\\c.doc");
  try {
    Walk(u"T");
    FAIL() << "no error reached the caller";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 53);
  }
  EXPECT_EQ(run.log.calls().back(), "Open(T\\missing.doc)");
}

}  // namespace
}  // namespace quavelle
