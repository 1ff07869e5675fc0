#include <utility>

#include "services/automation/AutomationServices.h"
#include "services/automation/DispatchCollection.h"
#include "services/automation/DispatchObject.h"

namespace quavelle {
namespace {

class AutomationFile final : public File {
 public:
  explicit AutomationFile(DispatchObject file) : file_(std::move(file)) {}
  std::u16string Path() override { return file_.String(u"Path"); }

 private:
  DispatchObject file_;
};

class AutomationFolder final : public Folder {
 public:
  explicit AutomationFolder(DispatchObject folder) : folder_(std::move(folder)) {}

  std::unique_ptr<Collection<File>> Files() override {
    return std::make_unique<DispatchCollection<File, AutomationFile>>(folder_.Object(u"Files"));
  }
  std::unique_ptr<Collection<Folder>> subfolders() override {
    return std::make_unique<DispatchCollection<Folder, AutomationFolder>>(
        folder_.Object(u"subfolders"));
  }
  std::u16string Path() override { return folder_.String(u"Path"); }

 private:
  DispatchObject folder_;
};

class AutomationFileSystem final : public FileSystemService {
 public:
  explicit AutomationFileSystem(DispatchObject service) : service_(std::move(service)) {}

  std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
    return std::make_unique<AutomationFolder>(service_.Object(u"GetFolder", ByReference(path)));
  }
  std::u16string GetDriveName(const std::u16string& path) override {
    return service_.String(u"GetDriveName", ByReference(path));
  }
  bool DriveExists(const std::u16string& drive) override {
    return service_.Boolean(u"DriveExists", ByReference(drive));
  }

 private:
  DispatchObject service_;
};

}  // namespace

std::unique_ptr<FileSystemService> CreateAutomationFileSystem(const std::u16string& progId) {
  return std::make_unique<AutomationFileSystem>(DispatchObject::Create(progId));
}

}  // namespace quavelle
