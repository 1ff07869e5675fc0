#include <utility>

#include "services/automation/AutomationServices.h"
#include "services/automation/DispatchCollection.h"
#include "services/automation/DispatchObject.h"

namespace quavelle {
namespace {

class AutomationLinkedDocument final : public LinkedDocument {
 public:
  explicit AutomationLinkedDocument(DispatchObject link) : link_(std::move(link)) {}

  std::u16string AbsolutePath() override { return link_.String(u"AbsolutePath"); }
  void SetPath(std::u16string newPath) override { link_.Call(u"SetPath", ByValue(newPath)); }

 private:
  DispatchObject link_;
};

// A document that the server gave as nothing is kept as such: its first member
// call then fails as any call on nothing does.
class AutomationDocument final : public Document {
 public:
  explicit AutomationDocument(DispatchObject document) : document_(std::move(document)) {}

  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
    DispatchObject links = document_.Object(u"LinkedDocuments");
    if (links.IsNothing()) return nullptr;
    return std::make_unique<DispatchCollection<LinkedDocument, AutomationLinkedDocument>>(
        std::move(links));
  }
  std::u16string FullName() override { return document_.String(u"FullName"); }

 private:
  DispatchObject document_;
};

class AutomationDocumentServer final : public DocumentServer {
 public:
  explicit AutomationDocumentServer(DispatchObject server) : server_(std::move(server)) {}

  std::unique_ptr<Document> Open(const std::u16string& path) override {
    return std::make_unique<AutomationDocument>(server_.Object(u"Open", ByReference(path)));
  }

 private:
  DispatchObject server_;
};

}  // namespace

std::unique_ptr<DocumentServer> CreateAutomationDocumentServer(const std::u16string& progId) {
  return std::make_unique<AutomationDocumentServer>(DispatchObject::Create(progId));
}

}  // namespace quavelle
