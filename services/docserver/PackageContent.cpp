#include "services/docserver/PackageContent.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

// Whether a link reads back as the path asked for; the separator may differ
// ("D:/Data/a.xlsx" reads back as "D:\Data\a.xlsx").
bool ReadsBackAs(std::u16string_view read, std::u16string_view asked) {
  return read.size() == asked.size() &&
         std::equal(read.begin(), read.end(), asked.begin(), [&](char16_t a, char16_t b) {
           return a == b || (IsPathSeparator(a) && IsPathSeparator(b));
         });
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
  std::vector<FoundLink> links;
  std::vector<std::string> names;
  std::vector<FoundLink> found;
  std::map<std::string, std::uint64_t> indexes;
  for (std::uint64_t i = 0, n = zip.EntryCount(); i < n; ++i) {
    std::string name = zip.EntryName(i);
    if (format_->IsEncryptionPart(name)) {
      throw ServiceError(error_number::kEncryptedDocument,
                         u"Cannot open '" + path_ + u"': it is encrypted (password-protected)");
    }
    if (!format_->IsLinkPart(name)) continue;
    found.clear();
    try {
      std::string text = zip.ReadEntry(i, options_.maxPartSize);
      if (format_->MayHoldLinks(name, text)) {
        XmlPart part(std::move(text), path_, name, XmlPartUse::Read);
        format_->FindLinks(part, name, path_, found);
      }
    } catch (const ServiceError&) {
      // An encrypted part reads as damage; say what it really is.
      if (format_->DeclaresEncryption(zip, options_.maxPartSize)) {
        throw ServiceError(error_number::kEncryptedDocument,
                           u"Cannot open '" + path_ + u"': it is encrypted (password-protected)");
      }
      throw;
    }
    indexes.emplace(name, i);
    for (FoundLink& link : found) {
      links.push_back(std::move(link));
      names.push_back(name);
    }
  }
  format_->JoinCompanions(links, names);
  std::vector<Record> records;
  records.reserve(links.size());
  for (std::size_t k = 0; k < links.size(); ++k) {
    const std::size_t companions = links[k].companions.size();
    records.push_back({indexes.at(names[k]),
                       std::move(names[k]),
                       std::move(links[k]),
                       {},
                       std::vector<std::optional<Pending>>(companions)});
  }
  links_ = std::move(records);
  entryIndexes_ = std::move(indexes);
  listed_ = true;
  return links_.size();
}

std::u16string PackageContent::AbsolutePath(std::size_t index) const {
  const Record& record = links_.at(index);
  return record.pending ? record.pending->target.absolutePath : record.link.target.absolutePath;
}

namespace {

// Refuses a new reference that a place's writer cannot put where the old one
// is (a path with a space where a query ends names at a space).
void CheckWritable(const std::vector<ValueSlot>& slots, const PlaceWriter& write,
                   std::string_view oldReference, std::string_view newReference,
                   const std::u16string& documentPath, const std::u16string& newPath) {
  if (!write) return;
  std::vector<std::string> found;
  for (const ValueSlot& slot : slots) found.push_back(slot.found);
  if (!write(found, oldReference, newReference)) {
    throw ServiceError(error_number::kUnwritablePath,
                       u"Cannot change a link of '" + documentPath + u"' to '" + newPath +
                           u"': the new path cannot be written where the old one is");
  }
}

// The reference a place stores for newPath; refused unless it reads back as
// that path.
std::string Formatted(const LinkTarget& target, const TargetContext& context,
                      const std::u16string& newPath, const std::u16string& documentPath,
                      LinkTarget& reread) {
  const std::u16string formatted = FormatLinkTarget(target, newPath, context);
  std::optional<LinkTarget> reparsed = ParseLinkTarget(formatted, context);
  if (!reparsed || !ReadsBackAs(reparsed->absolutePath, newPath)) {
    throw ServiceError(error_number::kUnwritablePath,
                       u"Cannot change a link of '" + documentPath + u"' to '" + newPath +
                           u"': it cannot be written so that it reads back as that path");
  }
  reread = std::move(*reparsed);
  return ToUtf8(formatted);
}

}  // namespace

void PackageContent::Repoint(std::size_t index, const std::u16string& newPath) {
  Record& record = links_.at(index);
  const FoundLink& link = record.link;
  // Every place is worked out before any is remembered.
  Pending own;
  own.stored = Formatted(link.target, *link.context, newPath, path_, own.target);
  CheckWritable(link.slots, link.write, link.storedValue, own.stored, path_, newPath);
  bool changes = own.stored != link.storedValue;
  std::vector<std::optional<Pending>> others;
  for (const LinkPlace& place : link.companions) {
    Pending other;
    other.stored = Formatted(place.target, *place.context, newPath, path_, other.target);
    CheckWritable(place.slots, place.write, place.storedValue, other.stored, path_, newPath);
    changes = changes || other.stored != place.storedValue;
    others.emplace_back(std::move(other));
  }
  if (changes) {
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
  record.pending = std::move(own);
  record.companionsPending = std::move(others);
}

bool PackageContent::HasChanges() const {
  return std::ranges::any_of(links_, [](const Record& record) {
    if (record.pending && record.pending->stored != record.link.storedValue) return true;
    for (std::size_t k = 0; k < record.companionsPending.size(); ++k) {
      const std::optional<Pending>& other = record.companionsPending[k];
      if (other && other->stored != record.link.companions[k].storedValue) return true;
    }
    return false;
  });
}

std::uint64_t PackageContent::EntryIndex(const std::string& entryName) const {
  const auto found = entryIndexes_.find(entryName);
  if (found == entryIndexes_.end()) {
    throw ServiceError(error_number::kDocumentChanged,
                       u"Cannot change '" + path_ + u"': it changed since it was opened");
  }
  return found->second;
}

namespace {

// The changes that make slots store newReference instead of oldReference.
std::vector<AttributeChange> SlotChanges(const XmlPart& part, const std::vector<ValueSlot>& slots,
                                         const PlaceWriter& write, std::string_view oldReference,
                                         std::string_view newReference,
                                         const std::u16string& documentPath) {
  std::vector<std::pair<std::size_t, std::string>> places;
  for (const ValueSlot& slot : slots) places.emplace_back(slot.ordinal, slot.attributeName);
  std::vector<std::string> current;
  for (std::optional<std::string>& value : part.ValuesAt(places)) {
    if (!value) break;
    current.push_back(std::move(*value));
  }
  std::optional<std::vector<std::string>> values;
  if (current.size() == slots.size()) values = write(current, oldReference, newReference);
  if (!values || values->size() != slots.size()) {
    throw ServiceError(error_number::kDocumentChanged,
                       u"Cannot change '" + documentPath +
                           u"': a link is no longer as it was when the document was opened");
  }
  std::vector<AttributeChange> changes;
  for (std::size_t k = 0; k < slots.size(); ++k) {
    if ((*values)[k] == current[k]) continue;
    changes.push_back(
        {slots[k].ordinal, slots[k].attributeName, current[k], std::move((*values)[k])});
  }
  return changes;
}

}  // namespace

std::string PackageContent::RewrittenPart(std::uint64_t entryIndex,
                                          const std::string& entryName) const {
  ZipArchive& zip = *archive_;  // opened by WriteChanged
  if (entryIndex >= zip.EntryCount() || zip.EntryName(entryIndex) != entryName) {
    throw ServiceError(error_number::kDocumentChanged,
                       u"Cannot change '" + path_ + u"': it changed since it was opened");
  }
  std::string text = zip.ReadEntry(entryIndex, options_.maxPartSize);
  // One place at a time: the values that depend on a link (a formula naming
  // two moved workbooks, a field naming two files) then build on the change before.
  for (const Record& record : links_) {
    const FoundLink& link = record.link;
    if (record.entryIndex == entryIndex && record.pending &&
        record.pending->stored != link.storedValue) {
      XmlPart part(std::move(text), path_, entryName, XmlPartUse::Rewrite);
      std::vector<AttributeChange> changes;
      if (link.write) {
        changes = SlotChanges(part, link.slots, link.write, link.storedValue,
                              record.pending->stored, path_);
      } else {
        changes = {
            {link.elementOrdinal, link.attributeName, link.storedValue, record.pending->stored}};
        format_->DependentChanges(part, link, record.pending->stored, changes);
      }
      text = changes.empty() ? part.Text() : part.WithAttributeValues(changes);
    }
    for (std::size_t k = 0; k < link.companions.size(); ++k) {
      const LinkPlace& place = link.companions[k];
      const std::optional<Pending>& other = record.companionsPending[k];
      if (!other || other->stored == place.storedValue || place.entryName != entryName) continue;
      XmlPart part(std::move(text), path_, entryName, XmlPartUse::Rewrite);
      std::vector<AttributeChange> changes;
      if (place.write) {
        changes =
            SlotChanges(part, place.slots, place.write, place.storedValue, other->stored, path_);
      } else {
        const ValueSlot& slot = place.slots.at(0);
        changes = {{slot.ordinal, slot.attributeName, place.storedValue, other->stored}};
      }
      text = changes.empty() ? part.Text() : part.WithAttributeValues(changes);
    }
  }
  return text;
}

void PackageContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  ZipArchive& zip = Archive();
  std::map<std::uint64_t, std::string> names;
  for (const Record& record : links_) {
    if (record.pending && record.pending->stored != record.link.storedValue) {
      names.emplace(record.entryIndex, record.entryName);
    }
    for (std::size_t k = 0; k < record.link.companions.size(); ++k) {
      const LinkPlace& place = record.link.companions[k];
      const std::optional<Pending>& other = record.companionsPending[k];
      if (other && other->stored != place.storedValue) {
        names.emplace(EntryIndex(place.entryName), place.entryName);
      }
    }
  }
  std::map<std::uint64_t, std::string> parts;
  for (const auto& [index, name] : names) parts.emplace(index, RewrittenPart(index, name));
  zip.WriteReplacingEntries(parts, outFd, faultHook);
}

void PackageContent::Committed(const DocumentFile& newFile) {
  // Read again only if the document is used again: most are not.
  archive_.reset();
  file_ = &newFile;
  for (Record& record : links_) {
    if (record.pending) {
      record.link.storedValue = std::move(record.pending->stored);
      record.link.target = std::move(record.pending->target);
      record.pending.reset();
    }
    for (std::size_t k = 0; k < record.link.companions.size(); ++k) {
      std::optional<Pending>& other = record.companionsPending[k];
      if (!other) continue;
      record.link.companions[k].storedValue = std::move(other->stored);
      record.link.companions[k].target = std::move(other->target);
      other.reset();
    }
  }
}

}  // namespace quavelle::docserver
