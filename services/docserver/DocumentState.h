#pragma once

#include <memory>
#include <optional>
#include <string>

#include "services/docserver/DocumentContent.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/ServerOptions.h"

namespace quavelle::docserver {

// What a document and all its link objects share: the open file, what it
// holds, and the re-pointings asked for since the file was last written.
// They are written together, in one atomic replace of the file, when an
// enumeration of the links reaches its end; a document dropped before that
// stays exactly as it was.
class DocumentState {
 public:
  // Opens the file and loads its content; an empty file holds no links.
  DocumentState(std::u16string path, std::unique_ptr<DocumentContent> content,
                ServerOptions options);
  ~DocumentState();
  DocumentState(const DocumentState&) = delete;
  DocumentState& operator=(const DocumentState&) = delete;

  const std::u16string& path() const { return path_; }

  std::size_t ListLinks();
  std::u16string AbsolutePath(std::size_t index) const;
  void Repoint(std::size_t index, const std::u16string& newPath);

  // Writes the re-pointings asked for so far, if they change anything. On
  // failure the file stays as it was, unless the description says otherwise.
  void WriteChanges();

 private:
  std::u16string path_;
  std::unique_ptr<DocumentContent> content_;  // null for an empty file
  ServerOptions options_;
  std::optional<DocumentFile> file_;
};

}  // namespace quavelle::docserver
