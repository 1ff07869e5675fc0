#include "LineDocumentServer.h"

#include <filesystem>
#include <fstream>

#include "services/ServiceFactory.h"
#include "services/Text.h"

namespace quavelle::test {
namespace {

class LineLink : public LinkedDocument {
 public:
  LineLink(std::u16string path, LineDocumentServer& server)
      : path_(std::move(path)), server_(server) {}
  std::u16string AbsolutePath() override { return path_; }
  void SetPath(std::u16string newPath) override { server_.setPaths.push_back(std::move(newPath)); }

 private:
  std::u16string path_;
  LineDocumentServer& server_;
};

class LineLinks : public Collection<LinkedDocument>, public Enumerator<LinkedDocument> {
 public:
  LineLinks(std::vector<std::u16string> paths, LineDocumentServer& server)
      : paths_(std::move(paths)), server_(server) {}
  std::unique_ptr<Enumerator<LinkedDocument>> NewEnum() override {
    return std::make_unique<LineLinks>(paths_, server_);
  }
  std::unique_ptr<LinkedDocument> Next() override {
    if (next_ == paths_.size()) return nullptr;
    return std::make_unique<LineLink>(paths_[next_++], server_);
  }

 private:
  std::vector<std::u16string> paths_;
  LineDocumentServer& server_;
  std::size_t next_ = 0;
};

class LineDocument : public Document {
 public:
  LineDocument(std::u16string path, LineDocumentServer& server)
      : path_(std::move(path)), server_(server) {}
  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
    std::vector<std::u16string> links;
    std::ifstream in(TextToNativePath(path_));
    for (std::string line; std::getline(in, line);) links.push_back(FromUtf8(line));
    return std::make_unique<LineLinks>(std::move(links), server_);
  }
  std::u16string FullName() override { return path_; }

 private:
  std::u16string path_;
  LineDocumentServer& server_;
};

}  // namespace

std::unique_ptr<Document> LineDocumentServer::Open(const std::u16string& path) {
  opened.push_back(path);
  if (onOpen) onOpen(path);
  return std::make_unique<LineDocument>(path, *this);
}

std::unique_ptr<Folder> CountingFileSystem::GetFolder(const std::u16string& path) {
  folders.push_back(path);
  return real_->GetFolder(path);
}

std::u16string CountingFileSystem::GetDriveName(const std::u16string& path) {
  return real_->GetDriveName(path);
}

bool CountingFileSystem::DriveExists(const std::u16string& drive) {
  drivesAsked.push_back(drive);
  return real_->DriveExists(drive);
}

TestServices MakeTestServices() {
  TestServices made;
  const ServiceSource real = FactoryServices();
  auto server = std::make_unique<LineDocumentServer>();
  auto fileSystem = std::make_unique<CountingFileSystem>(real.createFileSystem(kFileSystemProgId));
  made.server = server.get();
  made.fileSystem = fileSystem.get();
  auto serverSlot = std::make_shared<std::unique_ptr<DocumentServer>>(std::move(server));
  auto fileSystemSlot = std::make_shared<std::unique_ptr<FileSystemService>>(std::move(fileSystem));
  made.source =
      ServiceSource{[serverSlot](const std::u16string&) { return std::move(*serverSlot); },
                    [fileSystemSlot](const std::u16string&) { return std::move(*fileSystemSlot); },
                    real.createWalkGuard};
  return made;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path);
  for (const std::string& line : lines) out << line << '\n';
}

}  // namespace quavelle::test
