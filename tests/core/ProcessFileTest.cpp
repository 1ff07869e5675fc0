#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ScriptedServices.h"
#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"

namespace quavelle {
namespace {

using testing::Row;
using testing::ScriptedRun;
using Calls = std::vector<std::string>;

constexpr char16_t kDoc[] = u"C:\\Tree\\report.doc";

class ProcessFileTest : public ::testing::Test {
 protected:
  ScriptedRun run;
  // One document at kDoc holding these links.
  void Links(std::vector<std::u16string> links) {
    run.server.documents[kDoc] = {u"C:\\Tree\\Report.doc", std::move(links)};
  }
  void Process(std::u16string oldDrive, std::u16string newDrive) {
    RunContext ctx = run.Context(std::move(oldDrive), std::move(newDrive));
    ProcessFile(ctx, kDoc);
  }
  const std::vector<std::u16string>& HeldLinks() { return run.server.documents[kDoc].links; }
};

TEST_F(ProcessFileTest, CallsTheServicesInOrderAndListsMatchesOnly) {
  Links({u"C:\\Data\\plan.doc", u"E:\\Other\\x.doc", u"c:\\a.doc"});
  Process(u"C:", u"D:");
  EXPECT_EQ(run.log.calls(),
            (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()",  //
                   "AbsolutePath()", "GetDriveName(C:\\Data\\plan.doc)",
                   "SetPath(D:\\Data\\plan.doc)", "FullName()",  //
                   "AbsolutePath()", "GetDriveName(E:\\Other\\x.doc)", "AbsolutePath()",
                   "GetDriveName(c:\\a.doc)", "SetPath(D:\\a.doc)", "FullName()"}));
  EXPECT_EQ(
      run.results.rows,
      (std::vector<Row>{{u"C:\\Data\\plan.doc", u"D:\\Data\\plan.doc", u"C:\\Tree\\Report.doc"},
                        {u"c:\\a.doc", u"D:\\a.doc", u"C:\\Tree\\Report.doc"}}));
  EXPECT_EQ(HeldLinks(), (std::vector<std::u16string>{u"D:\\Data\\plan.doc", u"E:\\Other\\x.doc",
                                                      u"D:\\a.doc"}));
}

TEST_F(ProcessFileTest, AbsentLinkCollectionEndsTheFileWithoutARow) {
  run.server.documents[kDoc] = {u"n", {u"C:\\x"}, /*noLinkCollection=*/true};
  Process(u"C:", u"D:");
  EXPECT_EQ(run.log.calls(), (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()"}));
  EXPECT_TRUE(run.results.rows.empty());
}

TEST_F(ProcessFileTest, EmptyLinkCollectionListsNothing) {
  Links({});
  Process(u"C:", u"D:");
  EXPECT_EQ(run.log.calls(), (Calls{"Open(C:\\Tree\\report.doc)", "LinkedDocuments()"}));
  EXPECT_TRUE(run.results.rows.empty());
}

TEST_F(ProcessFileTest, EmptyCurrentTextRepointsEveryLinkToItsOwnPath) {
  Links({u"C:\\x.doc", u"relative.doc"});
  Process(u"", u"D:");
  EXPECT_EQ(run.log.CallsTo({"SetPath"}), (Calls{"SetPath(C:\\x.doc)"}));
  EXPECT_EQ(run.results.rows,
            (std::vector<Row>{{u"C:\\x.doc", u"C:\\x.doc", u"C:\\Tree\\Report.doc"}}));
}

TEST_F(ProcessFileTest, TwoLinksToOneFileAreBothRepointedAndListed) {
  Links({u"C:\\same.doc", u"C:\\same.doc"});
  Process(u"c:", u"D:");
  EXPECT_EQ(run.log.CallsTo({"SetPath"}),
            (Calls{"SetPath(D:\\same.doc)", "SetPath(D:\\same.doc)"}));
  EXPECT_EQ(run.results.rows.size(), 2u);
}

TEST_F(ProcessFileTest, FailureStopsAtOnceAndKeepsEarlierWork) {
  Links({u"C:\\1.doc", u"C:\\2.doc", u"C:\\3.doc"});
  run.log.FailAt("SetPath", 2, 70, u"Permission denied");
  try {
    Process(u"C:", u"D:");
    FAIL() << "no error reached the caller";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 70);
    EXPECT_EQ(e.description(), u"Permission denied");
  }
  EXPECT_EQ(run.log.calls().back(), "SetPath(D:\\2.doc)");
  EXPECT_EQ(run.results.rows,
            (std::vector<Row>{{u"C:\\1.doc", u"D:\\1.doc", u"C:\\Tree\\Report.doc"}}));
  EXPECT_EQ(HeldLinks()[0], u"D:\\1.doc");
}

// Whichever call fails, nothing is called after it and each row listed belongs to
// a link whose container name was read before the failure.
TEST_F(ProcessFileTest, AFailureAtAnyCallEndsTheRunThere) {
  Links({u"C:\\1.doc", u"E:\\2.doc", u"C:\\3.doc"});
  Process(u"C:", u"D:");
  const Calls complete = run.log.calls();
  for (std::size_t n = 1; n <= complete.size(); ++n) {
    ScriptedRun failing;
    failing.server.documents[kDoc] = {u"C:\\Tree\\Report.doc",
                                      {u"C:\\1.doc", u"E:\\2.doc", u"C:\\3.doc"}};
    failing.log.FailAtCall(n, 1000 + static_cast<int>(n), u"scripted");
    RunContext ctx = failing.Context(u"C:", u"D:");
    try {
      ProcessFile(ctx, kDoc);
      ADD_FAILURE() << "call " << n << " failed silently";
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), 1000 + static_cast<int>(n));
    }
    EXPECT_EQ(failing.log.calls(), Calls(complete.begin(), complete.begin() + n));
    const auto rowsBefore = std::count(complete.begin(), complete.begin() + n - 1, "FullName()");
    EXPECT_EQ(failing.results.rows.size(), static_cast<std::size_t>(rowsBefore)) << "call " << n;
  }
}

TEST_F(ProcessFileTest, OpenGivingNoObjectFailsAsObjectNotSet) {
  run.server.documents[kDoc] = {u"n", {}, false, /*openGivesNoObject=*/true};
  try {
    Process(u"C:", u"D:");
    FAIL() << "no error reached the caller";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 91);
    EXPECT_EQ(e.description(), u"Object variable or With block variable not set");
  }
  EXPECT_EQ(run.log.calls(), (Calls{"Open(C:\\Tree\\report.doc)"}));
}

}  // namespace
}  // namespace quavelle
