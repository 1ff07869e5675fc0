#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/docserver/BiffStream.h"
#include "services/docserver/CompoundFile.h"
#include "services/docserver/DocumentContent.h"
#include "services/docserver/HyperlinkObject.h"
#include "services/docserver/LinkTarget.h"

namespace quavelle::docserver {

// A binary workbook (.xls, .xlt): the other workbooks its formulas read
// (external-book records) and its cell hyperlinks to files.
class BinaryWorkbookContent : public DocumentContent {
 public:
  explicit BinaryWorkbookContent(std::u16string documentPath);

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  enum class Kind { ExternalBook, FileMoniker, UrlMoniker };
  struct Link {
    Kind kind;
    std::size_t record;
    std::u16string absolutePath;  // as last re-pointed
    std::u16string loadedPath;
    std::u16string stored;  // the path as the record holds it
    std::optional<LinkTarget> url;
  };

  void WalkWorkbook();
  void FindLinks();
  std::optional<std::string> RecordFor(const Link& link, const std::u16string& path) const;
  std::map<std::size_t, std::string> Edits() const;

  std::u16string path_;
  TargetContext context_;
  const DocumentFile* file_ = nullptr;
  std::unique_ptr<CompoundFile> compound_;
  std::uint32_t workbookEntry_ = 0;
  // The external-book and hyperlink records; the stream is read again when a
  // changed one is written.
  struct Kept {
    std::size_t offset;
    std::uint16_t type;
    std::string data;
  };
  std::vector<Kept> records_;
  std::vector<Link> links_;
};

}  // namespace quavelle::docserver
