#include "services/docserver/PackageContent.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

// Whether a link reads back as the path asked for; the separator may differ
// ("D:/Data/a.xlsx" reads back as "D:\Data\a.xlsx").
bool ReadsBackAs(std::u16string_view read, std::u16string_view asked) {
  auto separator = [](char16_t c) { return c == u'/' || c == u'\\'; };
  return read.size() == asked.size() &&
         std::equal(read.begin(), read.end(), asked.begin(), [&](char16_t a, char16_t b) {
           return a == b || (separator(a) && separator(b));
         });
}

std::u16string_view FileNameOf(std::u16string_view path) {
  std::size_t slash = path.find_last_of(u'/');
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// An office suite keeps "~$name.docx" beside a document someone has open: the
// user's name in a few bytes, not a package. One left by a crash holds no links.
bool IsOwnerFile(std::u16string_view path, int fd) {
  if (!FileNameOf(path).starts_with(u"~$")) return false;
  std::array<char, 4> head{};
  return ::pread(fd, head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) ||
         head != std::array<char, 4>{'P', 'K', 3, 4};
}

}  // namespace

PackageContent::PackageContent(std::u16string path, std::unique_ptr<PackageFormat> format,
                               ServerOptions options)
    : path_(std::move(path)), format_(std::move(format)), options_(std::move(options)) {}

PackageContent::~PackageContent() = default;

void PackageContent::Load(const DocumentFile& file) {
  file_ = &file;
  ownerFile_ = IsOwnerFile(path_, file.fd());
  if (!ownerFile_) Archive();
}

ZipArchive& PackageContent::Archive() {
  if (!archive_) archive_ = std::make_unique<ZipArchive>(*file_, path_);
  return *archive_;
}

std::size_t PackageContent::ListLinks() {
  if (listed_ || ownerFile_) return links_.size();
  ZipArchive& zip = Archive();
  std::vector<Record> links;
  std::vector<FoundLink> found;
  for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
    std::string name = zip.EntryName(i);
    if (format_->IsEncryptionPart(name)) {
      throw ServiceError(error_number::kEncryptedDocument,
                         u"Cannot open '" + path_ + u"': it is encrypted (password-protected)");
    }
    if (!format_->IsLinkPart(name)) continue;
    found.clear();
    try {
      XmlPart part(zip.ReadEntry(i, options_.maxPartSize), path_, name, XmlPartUse::Read);
      format_->FindLinks(part, name, path_, found);
    } catch (const ServiceError&) {
      // An encrypted part reads as damage; say what it really is.
      if (format_->DeclaresEncryption(zip, options_.maxPartSize)) {
        throw ServiceError(error_number::kEncryptedDocument,
                           u"Cannot open '" + path_ + u"': it is encrypted (password-protected)");
      }
      throw;
    }
    for (FoundLink& link : found) links.push_back({i, name, std::move(link), {}, {}});
  }
  links_ = std::move(links);
  listed_ = true;
  return links_.size();
}

std::u16string PackageContent::AbsolutePath(std::size_t index) const {
  const Record& record = links_.at(index);
  return record.newTarget ? record.newTarget->absolutePath : record.link.target.absolutePath;
}

void PackageContent::Repoint(std::size_t index, const std::u16string& newPath) {
  Record& record = links_.at(index);
  const FoundLink& link = record.link;
  const std::u16string formatted = FormatLinkTarget(link.target, newPath, *link.context);
  // Nothing is written that would not read back as the path asked for.
  std::optional<LinkTarget> reparsed = ParseLinkTarget(formatted, *link.context);
  if (!reparsed || !ReadsBackAs(reparsed->absolutePath, newPath)) {
    throw ServiceError(error_number::kUnwritablePath,
                       u"Cannot change a link of '" + path_ + u"' to '" + newPath +
                           u"': it cannot be written so that it reads back as that path");
  }
  std::string stored = ToUtf8(formatted);
  if (stored != link.storedValue) {
    ZipArchive& zip = Archive();
    for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
      if (format_->IsSignaturePart(zip.EntryName(i))) {
        throw ServiceError(
            error_number::kSignedDocument,
            u"Cannot change '" + path_ +
                u"': it is digitally signed and the change would break the signature");
      }
    }
  }
  record.newStored = std::move(stored);
  record.newTarget = std::move(*reparsed);
}

bool PackageContent::HasChanges() const {
  return std::ranges::any_of(links_, [](const Record& record) {
    return record.newStored && *record.newStored != record.link.storedValue;
  });
}

std::string PackageContent::RewrittenPart(std::uint64_t entryIndex,
                                          const std::string& entryName) const {
  ZipArchive& zip = *archive_;  // opened by WriteChanged
  if (entryIndex >= zip.EntryCount() || zip.EntryName(entryIndex) != entryName) {
    throw ServiceError(error_number::kDocumentChanged,
                       u"Cannot change '" + path_ + u"': it changed since it was opened");
  }
  std::string text = zip.ReadEntry(entryIndex, options_.maxPartSize);
  // One link at a time: the values that depend on a link (a formula naming
  // two moved workbooks) then build on the change before.
  for (const Record& record : links_) {
    if (record.entryIndex != entryIndex || !record.newStored ||
        *record.newStored == record.link.storedValue) {
      continue;
    }
    XmlPart part(std::move(text), path_, entryName, XmlPartUse::Rewrite);
    std::vector<AttributeChange> changes = {{record.link.elementOrdinal, record.link.attributeName,
                                             record.link.storedValue, *record.newStored}};
    format_->DependentChanges(part, record.link, *record.newStored, changes);
    text = part.WithAttributeValues(changes);
  }
  return text;
}

void PackageContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  ZipArchive& zip = Archive();
  std::map<std::uint64_t, std::string> parts;
  for (const Record& record : links_) {
    if (!record.newStored || *record.newStored == record.link.storedValue) continue;
    if (parts.contains(record.entryIndex)) continue;
    parts.emplace(record.entryIndex, RewrittenPart(record.entryIndex, record.entryName));
  }
  zip.WriteReplacingEntries(parts, outFd, faultHook);
}

void PackageContent::Committed(const DocumentFile& newFile) {
  // Read again only if the document is used again: most are not.
  archive_.reset();
  file_ = &newFile;
  for (Record& record : links_) {
    if (!record.newStored) continue;
    record.link.storedValue = std::move(*record.newStored);
    record.link.target = std::move(*record.newTarget);
    record.newStored.reset();
    record.newTarget.reset();
  }
}

}  // namespace quavelle::docserver
