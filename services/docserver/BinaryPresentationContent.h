#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/docserver/CompoundFile.h"
#include "services/docserver/DocumentContent.h"
#include "services/docserver/LinkTarget.h"

namespace quavelle::docserver {

// A binary presentation (.ppt, .pot, .pps): the targets of its hyperlinks.
// A change is saved the way the format saves edits: a new document record,
// persist directory and edit record appended to the stream, and the current
// user's pointer moved to them; nothing earlier in the stream moves.
class BinaryPresentationContent : public DocumentContent {
 public:
  explicit BinaryPresentationContent(std::u16string documentPath);

  void Load(const DocumentFile& file) override;
  std::size_t ListLinks() override;
  std::u16string AbsolutePath(std::size_t index) const override;
  void Repoint(std::size_t index, const std::u16string& newPath) override;
  bool HasChanges() const override;
  void WriteChanged(int outFd, const FaultHook& faultHook) override;
  void Committed(const DocumentFile& newFile) override;

 private:
  struct Link {
    std::size_t target = 0;            // offset of the target atom in the stream
    std::optional<std::size_t> shown;  // the friendly-name atom, when it shows the path
    LinkTarget parsed;
    std::u16string path;  // as last re-pointed
  };

  [[noreturn]] void Damaged(std::u16string_view reason) const;
  void FindLinks(std::size_t offset, std::size_t end, int depth);
  std::optional<std::u16string> Stored(const Link& link, const std::u16string& newPath) const;
  std::string Rebuilt(std::size_t offset, const std::map<std::size_t, std::u16string>& atoms) const;

  std::u16string path_;
  TargetContext context_;
  const DocumentFile* file_ = nullptr;
  std::unique_ptr<CompoundFile> compound_;
  std::uint32_t streamEntry_ = 0, userEntry_ = 0;
  std::optional<std::uint32_t> summaryEntry_;  // holds a cached copy of the hyperlink list
  std::string stream_, currentUser_;
  std::size_t currentEdit_ = 0, document_ = 0;
  std::vector<Link> links_;
};

}  // namespace quavelle::docserver
