#pragma once

#include <memory>
#include <string>

#include "services/Collection.h"

// The document server: opens files as documents, lists the documents they
// link to and re-points those links. Every member may throw ServiceError.
namespace quavelle {

// One link of a document: an element of Document::LinkedDocuments.
class LinkedDocument {
 public:
  virtual ~LinkedDocument() = default;
  // The full path the link points to now.
  virtual std::u16string AbsolutePath() = 0;
  // Re-points the link, in the document that holds it, to newPath.
  virtual void SetPath(std::u16string newPath) = 0;
};

class Document {
 public:
  virtual ~Document() = default;
  // The documents this one links to, or nullptr for no object at all.
  virtual std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() = 0;
  // The document's full path.
  virtual std::u16string FullName() = 0;
};

class DocumentServer {
 public:
  virtual ~DocumentServer() = default;
  // A document object for the file; path is passed by reference and left unchanged.
  virtual std::unique_ptr<Document> Open(const std::u16string& path) = 0;
};

}  // namespace quavelle
