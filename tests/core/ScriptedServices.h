#pragma once

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
#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "services/WalkGuard.h"

// Test doubles of the two services, scripted by plain data, that record every
// member call as "Member(argument)" and can be told to fail at a given call.
namespace quavelle::testing {

class CallLog {
 public:
  // Records the call, then throws the scripted failure if this is the failing call.
  void Record(const std::string& member, const std::u16string& argument = {});
  // The n-th recorded call (from 1) throws ServiceError(number, description).
  void FailAtCall(std::size_t n, std::int32_t number, std::u16string description);
  // The n-th call (from 1) of that member throws.
  void FailAt(const std::string& member, std::size_t n, std::int32_t number,
              std::u16string description);

  const std::vector<std::string>& calls() const { return calls_; }
  // The calls to the given members only, in order.
  std::vector<std::string> CallsTo(const std::set<std::string>& members) const;

 private:
  struct Failure {
    std::string member;  // empty: counts every call
    std::size_t n;
    std::int32_t number;
    std::u16string description;
  };
  std::vector<std::string> calls_;
  std::map<std::string, std::size_t> perMember_;
  std::vector<Failure> failures_;
};

struct ScriptedDocument {
  std::u16string fullName;
  std::vector<std::u16string> links;  // SetPath rewrites them in place
  bool noLinkCollection = false;      // LinkedDocuments gives no object
  bool openGivesNoObject = false;
};

class ScriptedDocumentServer : public DocumentServer {
 public:
  explicit ScriptedDocumentServer(CallLog& log) : log_(log) {}
  // Open of a path not listed here fails with 53.
  std::map<std::u16string, ScriptedDocument> documents;

  std::unique_ptr<Document> Open(const std::u16string& path) override;

 private:
  CallLog& log_;
};

struct ScriptedFolder {
  std::vector<std::u16string> files;       // full paths
  std::vector<std::u16string> subfolders;  // full paths, each also a key of folders
};

class ScriptedFileSystem : public FileSystemService {
 public:
  explicit ScriptedFileSystem(CallLog& log) : log_(log) {}
  // GetFolder of a path not listed here fails with 76.
  std::map<std::u16string, ScriptedFolder> folders;

  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override;
  // "X:" or "\\server\share" taken from the front of path; "" otherwise.
  std::u16string GetDriveName(const std::u16string& path) override;
  bool DriveExists(const std::u16string& drive) override;

 private:
  CallLog& log_;
};

// Identifies by the path's text; records its calls too.
class ScriptedWalkGuard : public WalkGuard {
 public:
  explicit ScriptedWalkGuard(CallLog& log) : log_(log) {}
  std::set<std::u16string> seen;
  bool FirstVisit(const std::u16string& path) override;

 private:
  CallLog& log_;
};

using Row = std::tuple<std::u16string, std::u16string, std::u16string>;

class RecordedResults : public ResultsList {
 public:
  std::vector<Row> rows;
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows.emplace_back(oldPath, newPath, containerName);
  }
};

// Everything a run needs, wired to one log.
struct ScriptedRun {
  CallLog log;
  ScriptedDocumentServer server{log};
  ScriptedFileSystem fso{log};
  ScriptedWalkGuard guard{log};
  RecordedResults results;
  RunContext Context(std::u16string oldDrive, std::u16string newDrive) {
    return RunContext{std::move(oldDrive), std::move(newDrive), server, fso, results, guard};
  }
};

}  // namespace quavelle::testing
