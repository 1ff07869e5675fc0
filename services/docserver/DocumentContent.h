#pragma once

#include <cstddef>
#include <string>

#include "services/docserver/ServerOptions.h"

namespace quavelle::docserver {

class DocumentFile;

// One kind of file the built-in server opens, seen as the links it holds.
// A content only reads the file and writes a new one; the server owns the
// file, decides when to write, and replaces the file atomically. Every
// failure is a ServiceError whose description names the document.
class DocumentContent {
 public:
  virtual ~DocumentContent() = default;

  // Reads what the kind needs to tell a readable file from a damaged one;
  // called once, when the document is opened. file outlives the content
  // until Committed hands over a new one.
  virtual void Load(const DocumentFile& file) = 0;

  // Reads the links, in document order; later calls give the same count.
  virtual std::size_t ListLinks() = 0;

  // The full path that link index points to, as last re-pointed.
  virtual std::u16string AbsolutePath(std::size_t index) const = 0;

  // Remembers that link index (and every other place of the file that
  // stores the same target) is to point to newPath; nothing is written yet.
  // Refuses, before anything is remembered, a path that cannot be stored so
  // that it reads back as newPath, and a file that cannot be changed safely
  // (signed, encrypted, no room in a fixed-size field).
  virtual void Repoint(std::size_t index, const std::u16string& newPath) = 0;

  // Whether the remembered re-pointings change any byte of the file.
  virtual bool HasChanges() const = 0;

  // Writes the whole new file, with every remembered re-pointing, to outFd
  // (empty, at offset 0, open for reading too: a kind may read back what it
  // wrote), reading the original through the loaded file.
  virtual void WriteChanged(int outFd, const FaultHook& faultHook) = 0;

  // The new file is in place; its content is what the links now say.
  virtual void Committed(const DocumentFile& newFile) = 0;
};

}  // namespace quavelle::docserver
