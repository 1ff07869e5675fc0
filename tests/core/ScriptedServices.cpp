#include "ScriptedServices.h"

#include <functional>

#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle::testing {
namespace {

// Hands out element i of a collection of count elements, made on demand.
template <class T>
class ScriptedCollection : public Collection<T> {
 public:
  using Make = std::function<std::unique_ptr<T>(std::size_t)>;
  ScriptedCollection(std::size_t count, Make make) : count_(count), make_(std::move(make)) {}

  std::unique_ptr<Enumerator<T>> NewEnum() override {
    struct Each : Enumerator<T> {
      std::size_t next = 0;
      const ScriptedCollection& owner;
      explicit Each(const ScriptedCollection& o) : owner(o) {}
      std::unique_ptr<T> Next() override {
        return next < owner.count_ ? owner.make_(next++) : nullptr;
      }
    };
    return std::make_unique<Each>(*this);
  }

 private:
  std::size_t count_;
  Make make_;
};

class ScriptedLink : public LinkedDocument {
 public:
  ScriptedLink(CallLog& log, std::u16string& path) : log_(log), path_(path) {}
  std::u16string AbsolutePath() override {
    log_.Record("AbsolutePath");
    return path_;
  }
  void SetPath(std::u16string newPath) override {
    log_.Record("SetPath", newPath);
    path_ = std::move(newPath);
  }

 private:
  CallLog& log_;
  std::u16string& path_;
};

class OpenDocument : public Document {
 public:
  OpenDocument(CallLog& log, ScriptedDocument& script) : log_(log), script_(script) {}
  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
    log_.Record("LinkedDocuments");
    if (script_.noLinkCollection) return nullptr;
    return std::make_unique<ScriptedCollection<LinkedDocument>>(
        script_.links.size(),
        [this](std::size_t i) { return std::make_unique<ScriptedLink>(log_, script_.links[i]); });
  }
  std::u16string FullName() override {
    log_.Record("FullName");
    return script_.fullName;
  }

 private:
  CallLog& log_;
  ScriptedDocument& script_;
};

class PathObject : public File {
 public:
  PathObject(CallLog& log, std::u16string path) : log_(log), path_(std::move(path)) {}
  std::u16string Path() override {
    log_.Record("Path");
    return path_;
  }

 private:
  CallLog& log_;
  std::u16string path_;
};

class ListedFolder : public Folder {
 public:
  ListedFolder(CallLog& log, ScriptedFileSystem& fso, std::u16string path, ScriptedFolder& script)
      : log_(log), fso_(fso), path_(std::move(path)), script_(script) {}
  std::unique_ptr<Collection<File>> Files() override {
    log_.Record("Files");
    return std::make_unique<ScriptedCollection<File>>(script_.files.size(), [this](std::size_t i) {
      return std::make_unique<PathObject>(log_, script_.files[i]);
    });
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    log_.Record("subfolders");
    return std::make_unique<ScriptedCollection<Folder>>(
        script_.subfolders.size(), [this](std::size_t i) -> std::unique_ptr<Folder> {
          const std::u16string& path = script_.subfolders[i];
          return std::make_unique<ListedFolder>(log_, fso_, path, fso_.folders.at(path));
        });
  }
  std::u16string Path() override {
    log_.Record("Path");
    return path_;
  }

 private:
  CallLog& log_;
  ScriptedFileSystem& fso_;
  std::u16string path_;
  ScriptedFolder& script_;
};

}  // namespace

void CallLog::Record(const std::string& member, const std::u16string& argument) {
  calls_.push_back(member + "(" + ToUtf8(argument) + ")");
  const std::size_t ofMember = ++perMember_[member];
  for (const Failure& f : failures_) {
    const bool hit =
        f.member.empty() ? f.n == calls_.size() : f.member == member && f.n == ofMember;
    if (hit) throw ServiceError(f.number, f.description);
  }
}

void CallLog::FailAtCall(std::size_t n, std::int32_t number, std::u16string description) {
  failures_.push_back({{}, n, number, std::move(description)});
}

void CallLog::FailAt(const std::string& member, std::size_t n, std::int32_t number,
                     std::u16string description) {
  failures_.push_back({member, n, number, std::move(description)});
}

std::vector<std::string> CallLog::CallsTo(const std::set<std::string>& members) const {
  std::vector<std::string> out;
  for (const std::string& call : calls_) {
    if (members.count(call.substr(0, call.find('(')))) out.push_back(call);
  }
  return out;
}

std::unique_ptr<Document> ScriptedDocumentServer::Open(const std::u16string& path) {
  log_.Record("Open", path);
  const auto found = documents.find(path);
  if (found == documents.end()) throw ServiceError(error_number::kFileNotFound, u"File not found");
  if (found->second.openGivesNoObject) return nullptr;
  return std::make_unique<OpenDocument>(log_, found->second);
}

std::unique_ptr<Folder> ScriptedFileSystem::GetFolder(const std::u16string& path) {
  log_.Record("GetFolder", path);
  const auto found = folders.find(path);
  if (found == folders.end()) throw ServiceError(error_number::kPathNotFound, u"Path not found");
  return std::make_unique<ListedFolder>(log_, *this, path, found->second);
}

std::u16string ScriptedFileSystem::GetDriveName(const std::u16string& path) {
  log_.Record("GetDriveName", path);
  if (path.size() >= 2 && path[1] == u':') return path.substr(0, 2);
  if (path.rfind(u"\\\\", 0) != 0) return u"";
  const std::size_t server = path.find(u'\\', 2);
  if (server == std::u16string::npos) return u"";
  return path.substr(0, path.find(u'\\', server + 1));
}

bool ScriptedFileSystem::DriveExists(const std::u16string& drive) {
  log_.Record("DriveExists", drive);
  return false;
}

bool ScriptedWalkGuard::FirstVisit(const std::u16string& path) {
  log_.Record("FirstVisit", path);
  return seen.insert(path).second;
}

}  // namespace quavelle::testing
