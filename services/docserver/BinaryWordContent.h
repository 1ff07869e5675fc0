#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/docserver/CompoundFile.h"
#include "services/docserver/DocumentContent.h"
#include "services/docserver/FieldInstruction.h"
#include "services/docserver/HyperlinkObject.h"
#include "services/docserver/LinkTarget.h"
#include "services/docserver/WordBinaryText.h"

namespace quavelle::docserver {

// A binary word-processing document (.doc, .dot): file paths in field
// instructions (HYPERLINK, INCLUDETEXT, INCLUDEPICTURE, LINK), with their
// copies in the data stream (hyperlink monikers, linked pictures' names).
// Text positions never move: a new path is written in place, padded, and a
// path longer than the old one is refused.
class BinaryWordContent : public DocumentContent {
 public:
  explicit BinaryWordContent(std::u16string documentPath);

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  enum class Kind { Field, Moniker, PictureName };
  // One place of the file that stores a target.
  struct Place {
    Kind kind;
    std::size_t at = 0;      // Field: character position; else: offset in the data stream
    std::size_t size = 0;    // Field: characters of the argument; else: bytes
    FieldToken token;        // Field: the argument as written
    HyperlinkObject object;  // Moniker
    LinkTarget target;
    std::u16string path;  // as last re-pointed
  };
  struct Edits {
    std::string document, data;
    bool changed = false;
  };

  // Adds a place for each file path in the fields that marks delimit. With
  // check, the text around each field must hold its marks and no others:
  // false, with some places added, where it does not.
  bool FindFields(const WordFieldMarks& marks, bool check);
  void FindDataCopies();
  // The bytes place takes for newPath, or the reason it cannot.
  std::optional<std::string> Render(const Place& place, const std::u16string& newPath,
                                    std::u16string& reason) const;
  Edits Apply() const;
  // The whole WordDocument stream, read on first use: listing reads only
  // the parts it needs.
  const std::string& Document() const;

  std::u16string path_;
  TargetContext context_;
  const DocumentFile* file_ = nullptr;
  std::unique_ptr<CompoundFile> compound_;
  std::uint32_t documentEntry_ = 0;
  std::optional<std::uint32_t> dataEntry_;
  mutable std::optional<std::string> document_;
  std::string data_;
  std::unique_ptr<WordBinaryText> text_;
  std::vector<Place> places_;
  std::vector<std::size_t> links_;  // the first place of each target
};

}  // namespace quavelle::docserver
