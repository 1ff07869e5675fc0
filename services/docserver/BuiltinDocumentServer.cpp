#include "services/docserver/BuiltinDocumentServer.h"

#include <dirent.h>

#include <algorithm>
#include <optional>

#include "services/Text.h"
#include "services/docserver/BuiltinDocument.h"
#include "services/docserver/DocumentKinds.h"
#include "services/docserver/DocumentState.h"
#include "services/docserver/ReadAhead.h"
#include "services/docserver/RoundTripFileSystems.h"

namespace quavelle {
namespace {

using docserver::DocumentState;

// The files of folder after the one named after, in the order the folder
// lists them, that name documents; nullopt when the folder cannot be listed.
std::optional<std::vector<std::u16string>> DocumentsAfter(const std::u16string& folder,
                                                          std::u16string_view after,
                                                          const docserver::ServerOptions& options) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(TextToNativePath(folder).c_str()), ::closedir);
  if (!dir) return std::nullopt;
  std::vector<std::u16string> names;
  bool seen = false;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) continue;
    std::u16string name = NativePathToText(entry->d_name);
    if (!seen) {
      seen = name == after;
      continue;
    }
    std::u16string path = folder + u"/" + name;
    if (docserver::ContentForFileName(path, options)) names.push_back(std::move(path));
  }
  return names;
}

class BuiltinDocumentServer : public DocumentServer {
 public:
  explicit BuiltinDocumentServer(docserver::ServerOptions options) : options_(std::move(options)) {
    if (!options_.folders) options_.folders = std::make_shared<docserver::FolderDescriptors>();
    if (!options_.closer) options_.closer = std::make_shared<docserver::BackgroundCloser>();
    if (options_.readAheadDepth > 0) {
      readAhead_ = std::make_unique<docserver::ReadAhead>(
          [options = options_](const std::u16string& path) {
            auto state = std::make_shared<DocumentState>(
                path, docserver::ContentForFileName(path, options), options);
            state->ListLinks();
            return state;
          },
          options_.readAheadDepth, options_.readAheadThreads);
    }
  }

  // The kind is decided by the file name, so a walk over other files costs no I/O.
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    std::unique_ptr<docserver::DocumentContent> content =
        docserver::ContentForFileName(path, options_);
    if (!content) return std::make_unique<docserver::PlainDocument>(path);
    std::shared_ptr<DocumentState> state;
    if (readAhead_) {
      state = readAhead_->Take(path);
      if (!state) ExpectTheRestOfTheFolder(path);
    }
    if (!state) state = std::make_shared<DocumentState>(path, std::move(content), options_);
    return std::make_unique<docserver::BuiltinDocument>(std::move(state));
  }

 private:
  // A walk takes a folder's files in the order the folder lists them.
  void ExpectTheRestOfTheFolder(const std::u16string& path) {
    const std::size_t slash = path.find_last_of(u'/');
    if (slash == std::u16string::npos) return;
    const std::u16string folder = path.substr(0, slash);
    if (folder == expectedFolder_) return;
    expectedFolder_ = folder;
    if (!options_.readAheadEverywhere && !docserver::RoundTripsAt(TextToNativePath(folder))) return;
    if (auto documents =
            DocumentsAfter(folder, std::u16string_view(path).substr(slash + 1), options_)) {
      readAhead_->Expect(std::move(*documents));
    }
  }

  docserver::ServerOptions options_;
  std::u16string expectedFolder_;
  std::unique_ptr<docserver::ReadAhead> readAhead_;  // last: its workers use options_
};

}  // namespace

std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer() {
  return CreateBuiltinDocumentServer(docserver::ServerOptions{});
}

std::unique_ptr<DocumentServer> CreateBuiltinDocumentServer(docserver::ServerOptions options) {
  return std::make_unique<BuiltinDocumentServer>(std::move(options));
}

}  // namespace quavelle
