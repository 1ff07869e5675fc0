#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/ResultsList.h"
#include "core/RunContext.h"
#include "services/ServiceError.h"
#include "services/Text.h"

// Everything a run talks to, scripted by plain data. Every member call is logged
// as "Member(argument)", and any one call can be made to fail.
namespace quavelle::testing {

inline constexpr std::int32_t kScriptedNumber = 1234;
inline constexpr char16_t kScriptedDescription[] = u"Scripted failure";

struct ScriptedDocument {
  std::u16string fullName;
  std::vector<std::u16string> links;
  bool linkCollection = true;  // false: LinkedDocuments gives no object
};

struct ScriptedFolder {
  std::vector<std::u16string> files, subfolders;  // full paths; each subfolder is a key too
};

using Row = std::tuple<std::u16string, std::u16string, std::u16string>;

class ScriptedRun : public DocumentServer,
                    public FileSystemService,
                    public WalkGuard,
                    public ResultsList {
 public:
  std::vector<std::string> calls;
  std::size_t failAt = 0;                                // this call (from 1) throws; 0: none does
  std::map<std::u16string, ScriptedDocument> documents;  // any other path opens with no links
  bool openGivesNothing = false;
  std::map<std::u16string, ScriptedFolder> folders;
  std::map<std::u16string, std::u16string> drives;  // a path's drive name; "" when not listed
  std::set<std::u16string> seen;                    // known to FirstVisit by the path's text
  std::vector<Row> rows;

  void Record(const char* member, const std::u16string& argument = {}) {
    calls.push_back(std::string(member) + "(" + ToUtf8(argument) + ")");
    if (calls.size() == failAt) throw ServiceError(kScriptedNumber, kScriptedDescription);
  }
  std::vector<std::string> Only(const std::set<std::string>& members) const {
    std::vector<std::string> out;
    for (const std::string& call : calls) {
      if (members.count(call.substr(0, call.find('(')))) out.push_back(call);
    }
    return out;
  }
  RunContext Context(std::u16string oldDrive, std::u16string newDrive) {
    return RunContext{std::move(oldDrive), std::move(newDrive), *this, *this, *this, *this};
  }

  std::unique_ptr<Document> Open(const std::u16string& path) override;
  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override;
  std::u16string GetDriveName(const std::u16string& path) override {
    Record("GetDriveName", path);
    const auto found = drives.find(path);
    return found == drives.end() ? u"" : found->second;
  }
  bool DriveExists(const std::u16string& drive) override {
    Record("DriveExists", drive);
    return false;
  }
  bool FirstVisit(const std::u16string& path) override {
    Record("FirstVisit", path);
    return seen.insert(path).second;
  }
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& container) override {
    rows.emplace_back(oldPath, newPath, container);
  }
};

// A collection of the objects at these paths, handed out first to last.
template <class T, class Made>
struct Listed : Collection<T>, Enumerator<T> {
  ScriptedRun& run;
  std::vector<std::u16string> paths;
  std::size_t next = 0;
  Listed(ScriptedRun& r, std::vector<std::u16string> p) : run(r), paths(std::move(p)) {}
  std::unique_ptr<Enumerator<T>> NewEnum() override { return std::make_unique<Listed>(*this); }
  std::unique_ptr<T> Next() override {
    return next < paths.size() ? std::make_unique<Made>(run, paths[next++]) : nullptr;
  }
};

// Any object a service hands out (document, link, file or folder), known by its
// path and looked up in the script when asked.
struct Object : Document, LinkedDocument, File, Folder {
  ScriptedRun& run;
  std::u16string path;
  Object(ScriptedRun& r, std::u16string p) : run(r), path(std::move(p)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
    run.Record("LinkedDocuments");
    const ScriptedDocument& script = run.documents.at(path);
    if (!script.linkCollection) return nullptr;
    return std::make_unique<Listed<LinkedDocument, Object>>(run, script.links);
  }
  std::u16string FullName() override {
    run.Record("FullName");
    return run.documents.at(path).fullName;
  }
  std::u16string AbsolutePath() override {
    run.Record("AbsolutePath");
    return path;
  }
  void SetPath(std::u16string newPath) override { run.Record("SetPath", newPath); }
  std::u16string Path() override { return path; }
  std::unique_ptr<Collection<File>> Files() override {
    run.Record("Files");
    return std::make_unique<Listed<File, Object>>(run, run.folders.at(path).files);
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    run.Record("subfolders");
    return std::make_unique<Listed<Folder, Object>>(run, run.folders.at(path).subfolders);
  }
};

inline std::unique_ptr<Document> ScriptedRun::Open(const std::u16string& path) {
  Record("Open", path);
  if (openGivesNothing) return nullptr;
  documents.try_emplace(path, path);
  return std::make_unique<Object>(*this, path);
}

inline std::unique_ptr<Folder> ScriptedRun::GetFolder(const std::u16string& path) {
  Record("GetFolder", path);
  return std::make_unique<Object>(*this, path);
}

// Runs script+act once whole, then once failing at each of its calls in turn: the
// failure must reach the caller as the service gave it, nothing may be called after
// it, and the rows listed before it stay.
template <class Script, class Act>
void ExpectEachFailureEndsTheRun(Script script, Act act) {
  ScriptedRun whole;
  script(whole);
  act(whole);
  for (std::size_t n = 1; n <= whole.calls.size(); ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n) + ": " + whole.calls[n - 1]);
    ScriptedRun run;
    script(run);
    run.failAt = n;
    try {
      act(run);
      ADD_FAILURE() << "the failure did not reach the caller";
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), kScriptedNumber);
      EXPECT_EQ(e.description(), kScriptedDescription);
    }
    const auto before = whole.calls.begin() + n;
    EXPECT_EQ(run.calls, std::vector<std::string>(whole.calls.begin(), before));
    const auto rows = std::count(whole.calls.begin(), before - 1, "FullName()");
    EXPECT_EQ(run.rows, std::vector<Row>(whole.rows.begin(), whole.rows.begin() + rows));
  }
}

}  // namespace quavelle::testing
