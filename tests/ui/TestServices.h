#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "ui/ServiceSource.h"

namespace quavelle::test {

// The real document server, recording what is opened and letting a test act
// (fail, close the window...) as each file is opened.
class HookedDocumentServer : public DocumentServer {
 public:
  explicit HookedDocumentServer(std::unique_ptr<DocumentServer> real) : real_(std::move(real)) {}
  std::unique_ptr<Document> Open(const std::u16string& path) override;

  std::vector<std::u16string> opened;
  std::function<void(const std::u16string& path)> onOpen;

 private:
  std::unique_ptr<DocumentServer> real_;
};

// The real file-system service, recording the folders and drives asked for.
class HookedFileSystem : public FileSystemService {
 public:
  explicit HookedFileSystem(std::unique_ptr<FileSystemService> real) : real_(std::move(real)) {}
  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override;
  std::u16string GetDriveName(const std::u16string& path) override {
    return real_->GetDriveName(path);
  }
  bool DriveExists(const std::u16string& drive) override;

  std::vector<std::u16string> folders;
  std::vector<std::u16string> drivesAsked;
  std::function<void(const std::u16string& path)> onFolder;

 private:
  std::unique_ptr<FileSystemService> real_;
};

// A source handing the window the two objects above; the pointers stay valid
// while the window that took them lives.
struct TestServices {
  ServiceSource source;
  HookedDocumentServer* server = nullptr;
  HookedFileSystem* fileSystem = nullptr;
};
TestServices MakeTestServices();

// Writes the sample tree of real documents into folder; returns its root.
QString MakeSampleTree(const QString& folder);

}  // namespace quavelle::test
