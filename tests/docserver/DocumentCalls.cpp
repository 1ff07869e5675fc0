#include "DocumentCalls.h"

#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle::docserver::testing {

std::u16string U16(const std::string& utf8) { return FromUtf8(std::string_view(utf8)); }
std::string U8(const std::u16string& text) { return ToUtf8(text); }

std::vector<std::u16string> LinkPaths(Document& document) {
  std::vector<std::u16string> paths;
  std::unique_ptr<Collection<LinkedDocument>> links = document.LinkedDocuments();
  if (!links) return paths;
  std::unique_ptr<Enumerator<LinkedDocument>> it = links->NewEnum();
  while (std::unique_ptr<LinkedDocument> link = it->Next()) paths.push_back(link->AbsolutePath());
  return paths;
}

std::vector<std::u16string> LinkPaths(DocumentServer& server, const std::string& path) {
  std::unique_ptr<Document> document = server.Open(U16(path));
  return LinkPaths(*document);
}

std::unique_ptr<LinkedDocument> LinkAt(Document& document, std::size_t index) {
  std::unique_ptr<Collection<LinkedDocument>> links = document.LinkedDocuments();
  if (!links) return nullptr;
  std::unique_ptr<Enumerator<LinkedDocument>> it = links->NewEnum();
  for (std::size_t i = 0;; ++i) {
    std::unique_ptr<LinkedDocument> link = it->Next();
    if (!link || i == index) return link;
  }
}

std::int32_t ErrorNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const ServiceError& error) {
    return error.number();
  }
  return 0;
}

std::int32_t OpenAndListError(DocumentServer& server, const std::string& path) {
  return ErrorNumber([&] {
    std::unique_ptr<Document> document = server.Open(U16(path));
    document->LinkedDocuments();
  });
}

}  // namespace quavelle::docserver::testing
