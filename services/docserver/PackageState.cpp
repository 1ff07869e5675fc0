#include "services/docserver/PackageState.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "services/Text.h"
#include "services/docserver/AtomicFileReplace.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

struct FreeDeleter {
  void operator()(char* p) const noexcept { std::free(p); }
};

// The file a symbolic link leads to, so that the link itself stays a link.
std::string RealPath(const std::u16string& path) {
  std::unique_ptr<char, FreeDeleter> real(::realpath(TextToNativePath(path).c_str(), nullptr));
  if (!real) throw ErrnoError(errno, u"Cannot write", path);
  return real.get();
}

// Whether a link reads back as the path asked for; the separator may differ
// ("D:/Data/a.xlsx" reads back as "D:\Data\a.xlsx").
bool ReadsBackAs(std::u16string_view read, std::u16string_view asked) {
  auto separator = [](char16_t c) { return c == u'/' || c == u'\\'; };
  return read.size() == asked.size() &&
         std::equal(read.begin(), read.end(), asked.begin(), [&](char16_t a, char16_t b) {
           return a == b || (separator(a) && separator(b));
         });
}

}  // namespace

PackageState::PackageState(std::u16string path, std::unique_ptr<PackageFormat> format,
                           ServerOptions options)
    : path_(std::move(path)), format_(std::move(format)), options_(std::move(options)) {
  Archive();
}

ZipArchive& PackageState::Archive() {
  if (!archive_) {
    if (!file_) file_ = DocumentFile::Open(path_);
    archive_ = std::make_unique<ZipArchive>(*file_, path_);
  }
  return *archive_;
}

std::size_t PackageState::ListLinks() {
  if (listed_) return links_.size();
  ZipArchive& zip = Archive();
  std::vector<LinkRecord> links;
  std::vector<FoundLink> found;
  for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
    std::string name = zip.EntryName(i);
    if (!format_->IsLinkPart(name)) continue;
    XmlPart part(zip.ReadEntry(i, options_.maxPartSize), path_, name, XmlPartUse::Read);
    found.clear();
    format_->FindLinks(part, name, path_, found);
    for (FoundLink& link : found) links.push_back({i, name, std::move(link)});
  }
  links_ = std::move(links);
  listed_ = true;
  return links_.size();
}

std::string PackageState::RewrittenPart(const LinkRecord& record, const std::string& stored) {
  ZipArchive& zip = Archive();
  if (record.entryIndex >= zip.EntryCount() ||
      zip.EntryName(record.entryIndex) != record.entryName) {
    throw ServiceError(error_number::kDocumentChanged,
                       u"Cannot change '" + path_ + u"': it changed since it was opened");
  }
  XmlPart part(zip.ReadEntry(record.entryIndex, options_.maxPartSize), path_, record.entryName,
               XmlPartUse::Rewrite);
  std::vector<AttributeChange> changes = {
      {record.link.elementOrdinal, record.link.attributeName, record.link.storedValue, stored}};
  format_->DependentChanges(part, record.link, stored, changes);
  return part.WithAttributeValues(changes);
}

void PackageState::Repoint(std::size_t index, const std::u16string& newPath) {
  LinkRecord& record = links_.at(index);
  FoundLink& link = record.link;
  if (newPath.empty()) {
    throw ServiceError(error_number::kInvalidArgument,
                       u"Cannot change a link of '" + path_ + u"' to an empty path");
  }
  const std::u16string formatted = FormatLinkTarget(link.target, newPath, *link.context);
  const std::string stored = ToUtf8(formatted);
  if (stored == link.storedValue) return;  // already there: the file is not touched
  // Nothing is written that would not read back as the path asked for.
  std::optional<LinkTarget> reparsed = ParseLinkTarget(formatted, *link.context);
  if (!reparsed || !ReadsBackAs(reparsed->absolutePath, newPath)) {
    throw ServiceError(error_number::kUnwritablePath,
                       u"Cannot change a link of '" + path_ + u"' to '" + newPath +
                           u"': it cannot be written so that it reads back as that path");
  }

  ZipArchive& zip = Archive();
  for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
    if (format_->IsSignaturePart(zip.EntryName(i))) {
      throw ServiceError(error_number::kSignedDocument,
                         u"Cannot change '" + path_ +
                             u"': it is digitally signed and the change would break the signature");
    }
  }

  const std::string real = RealPath(path_);
  const FileIdentity now = UnchangedIdentity(real, file_->identity(), path_);
  // A rename replaces a read-only file as readily as any other, so ask first.
  if (::faccessat(AT_FDCWD, real.c_str(), W_OK, AT_EACCESS) != 0) {
    throw ErrnoError(errno, u"Cannot write", path_);
  }
  if ((now.mode & 0222) == 0) {
    throw ServiceError(error_number::kPermissionDenied,
                       u"Cannot write '" + path_ + u"': the file is read-only");
  }

  const std::string part = RewrittenPart(record, stored);
  UniqueFd written = ReplaceFileAtomically(
      real, file_->fd(), now, path_, options_,
      [&](int fd) { zip.WriteReplacingEntry(record.entryIndex, part, fd, options_.faultHook); },
      [&] {
        archive_.reset();
        file_.reset();
      });

  // From here on the package on disk is the one just written.
  archive_.reset();
  file_ = DocumentFile::Adopt(std::move(written), path_);
  link.storedValue = stored;
  link.target = std::move(*reparsed);
}

}  // namespace quavelle::docserver
