#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "ui/ServiceSource.h"

namespace quavelle::test {

// A document server whose documents are text files, one link path per line.
// It records each call, and can be told to do something when a file is opened.
class LineDocumentServer : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string& path) override;

  std::vector<std::u16string> opened;
  std::vector<std::u16string> setPaths;
  std::function<void(const std::u16string& path)> onOpen;
};

// Delegates to a real file-system service and counts the calls the window makes.
class CountingFileSystem : public FileSystemService {
 public:
  explicit CountingFileSystem(std::unique_ptr<FileSystemService> real) : real_(std::move(real)) {}
  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override;
  std::u16string GetDriveName(const std::u16string& path) override;
  bool DriveExists(const std::u16string& drive) override;

  std::vector<std::u16string> folders;
  std::vector<std::u16string> drivesAsked;

 private:
  std::unique_ptr<FileSystemService> real_;
};

// The services a test window gets: the two above, over the real local file
// system and walk record. The pointers stay valid while the window lives.
struct TestServices {
  ServiceSource source;
  LineDocumentServer* server = nullptr;
  CountingFileSystem* fileSystem = nullptr;
};
TestServices MakeTestServices();

// Writes a text file, creating its folders.
void WriteLines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace quavelle::test
