#include "services/docserver/LegacyContent.h"

#include <sys/stat.h>

#include <cerrno>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BinaryPresentationContent.h"
#include "services/docserver/BinaryWordContent.h"
#include "services/docserver/BinaryWorkbookContent.h"
#include "services/docserver/CompoundFile.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/FileWriting.h"

namespace quavelle::docserver {
namespace {

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

// A compound file that holds no kind of document this server reads links
// from: checked for damage, then a document without links.
class LinklessCompoundContent : public DocumentContent {
 public:
  explicit LinklessCompoundContent(std::u16string path) : path_(std::move(path)) {}

  void Load(const DocumentFile& file) override {
    CompoundFile(file.fd(), file.identity().size, path_);
  }
  std::size_t ListLinks() override { return 0; }
  std::u16string AbsolutePath(std::size_t) const override { return {}; }
  void Repoint(std::size_t, const std::u16string&) override {
    throw ServiceError(error_number::kInvalidArgument, u"'" + path_ + u"' holds no links");
  }
  bool HasChanges() const override { return false; }
  void WriteChanged(int, const FaultHook&) override {}
  void Committed(const DocumentFile&) override {}

 private:
  std::u16string path_;
};

// Formats this server reads but does not change yet: refused like before.
class RefusedContent : public LinklessCompoundContent {
 public:
  RefusedContent(std::u16string path, std::u16string reason)
      : LinklessCompoundContent(path), path_(std::move(path)), reason_(std::move(reason)) {}
  void Load(const DocumentFile&) override {
    throw ServiceError(error_number::kEncryptedDocument,
                       u"Cannot open '" + path_ + u"': " + reason_);
  }

 private:
  std::u16string path_, reason_;
};

}  // namespace

std::unique_ptr<DocumentContent> LegacyContentForExtension(std::u16string_view ext,
                                                           const std::u16string& path) {
  const std::u16string e = Lower(ext);
  if (e == u".xls" || e == u".xlt") return std::make_unique<BinaryWorkbookContent>(path);
  if (e == u".doc" || e == u".dot") return std::make_unique<BinaryWordContent>(path);
  if (e == u".ppt" || e == u".pot" || e == u".pps")
    return std::make_unique<BinaryPresentationContent>(path);
  return nullptr;
}

std::unique_ptr<DocumentContent> LegacyContentForBytes(int fd, const std::u16string& path) {
  const std::string head = ReadRange(fd, 0, 8, path);
  if (!docserver::IsCompoundFile(head)) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw ErrnoError(errno, u"Cannot read", path);
  CompoundFile file(fd, static_cast<std::uint64_t>(st.st_size), path);
  if (file.Find({u"EncryptionInfo"}) && file.Find({u"EncryptedPackage"}))
    return std::make_unique<RefusedContent>(path, u"the document is encrypted");
  if (file.Find({u"Workbook"}) || file.Find({u"Book"}))
    return std::make_unique<BinaryWorkbookContent>(path);
  if (file.Find({u"WordDocument"})) return std::make_unique<BinaryWordContent>(path);
  if (file.Find({u"PowerPoint Document"})) return std::make_unique<BinaryPresentationContent>(path);
  return std::make_unique<LinklessCompoundContent>(path);
}

}  // namespace quavelle::docserver
