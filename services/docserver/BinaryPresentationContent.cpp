#include "services/docserver/BinaryPresentationContent.h"

#include <map>
#include <set>

#include "services/ServiceError.h"
#include "services/docserver/BiffStream.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/HyperlinkPropertyList.h"
#include "services/docserver/LegacyPaths.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint16_t kDocument = 0x03E8;
constexpr std::uint16_t kObjectList = 0x0409;
constexpr std::uint16_t kHyperlink = 0x0FD7;
constexpr std::uint16_t kString = 0x0FBA;
constexpr std::uint16_t kUserEdit = 0x0FF5;
constexpr std::uint16_t kCurrentUser = 0x0FF6;
constexpr std::uint16_t kPersistDirectory = 0x1772;
constexpr std::uint16_t kFriendlyName = 0, kTarget = 1;
constexpr std::uint32_t kPlainToken = 0xE391C05F;
constexpr std::uint32_t kEncryptedToken = 0xF3D1C4DF;
constexpr std::size_t kHeader = 8;
constexpr std::size_t kPlainEditSize = 28;  // without the encryption session reference
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxEdits = 4096;

struct Header {
  std::uint16_t version, instance, type;
  std::uint32_t length;
};

Header ReadHeader(std::string_view s, std::size_t at) {
  const std::uint16_t v = BiffU16(s, at);
  return {static_cast<std::uint16_t>(v & 0x0F), static_cast<std::uint16_t>(v >> 4),
          BiffU16(s, at + 2), BiffU32(s, at + 4)};
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Record(std::uint16_t versionInstance, std::uint16_t type, std::string_view data) {
  std::string out(kHeader, '\0');
  out[0] = static_cast<char>(versionInstance);
  out[1] = static_cast<char>(versionInstance >> 8);
  out[2] = static_cast<char>(type);
  out[3] = static_cast<char>(type >> 8);
  Put32(out, 4, static_cast<std::uint32_t>(data.size()));
  return out.append(data);
}

std::u16string Utf16(std::string_view b) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) out.push_back(BiffU16(b, i));
  return out;
}

}  // namespace

BinaryPresentationContent::BinaryPresentationContent(std::u16string documentPath)
    : path_(std::move(documentPath)),
      context_{TargetSyntax::OfficeOpenXml, FolderOfDocument(path_), path_} {}

void BinaryPresentationContent::Damaged(std::u16string_view reason) const {
  throw ServiceError(
      error_number::kDamagedPackage,
      u"Cannot read '" + path_ + u"': damaged presentation (" + std::u16string(reason) + u")");
}

void BinaryPresentationContent::Load(const DocumentFile& file) {
  file_ = &file;
  links_.clear();
  compound_ = std::make_unique<CompoundFile>(file.fd(), file.identity().size, path_);
  auto stream = compound_->Find({u"PowerPoint Document"});
  auto user = compound_->Find({u"Current User"});
  if (!stream || !user) Damaged(u"no presentation or current user stream");
  streamEntry_ = *stream;
  userEntry_ = *user;
  stream_ = compound_->ReadStream(streamEntry_);
  summaryEntry_ =
      compound_->Find({u"\x05"
                       u"DocumentSummaryInformation"});
  currentUser_ = compound_->ReadStream(userEntry_);
  if (currentUser_.size() < 20 || ReadHeader(currentUser_, 0).type != kCurrentUser)
    Damaged(u"no current user record");
  const std::uint32_t token = BiffU32(currentUser_, 12);
  if (token == kEncryptedToken) {
    throw ServiceError(error_number::kEncryptedDocument,
                       u"Cannot open '" + path_ + u"': the presentation is encrypted");
  }
  if (token != kPlainToken) Damaged(u"current user record");
  currentEdit_ = BiffU32(currentUser_, 16);

  // The persist directory: the newest edit's entries win.
  std::map<std::uint32_t, std::uint32_t> persist;
  std::set<std::size_t> seen;
  std::uint32_t documentId = 0;
  for (std::size_t edit = currentEdit_, n = 0;; ++n) {
    if (n > kMaxEdits || !seen.insert(edit).second) Damaged(u"edit records loop");
    if (edit + kHeader + kPlainEditSize > stream_.size()) Damaged(u"edit record out of range");
    const Header h = ReadHeader(stream_, edit);
    if (h.type != kUserEdit || h.length < kPlainEditSize ||
        edit + kHeader + h.length > stream_.size())
      Damaged(u"edit record");
    if (h.length > kPlainEditSize && edit == currentEdit_) {
      throw ServiceError(error_number::kEncryptedDocument,
                         u"Cannot open '" + path_ + u"': the presentation is encrypted");
    }
    if (edit == currentEdit_) documentId = BiffU32(stream_, edit + kHeader + 16);
    const std::size_t dir = BiffU32(stream_, edit + kHeader + 12);
    if (dir + kHeader > stream_.size()) Damaged(u"persist directory out of range");
    const Header d = ReadHeader(stream_, dir);
    if (d.type != kPersistDirectory || dir + kHeader + d.length > stream_.size())
      Damaged(u"persist directory");
    for (std::size_t at = dir + kHeader, end = at + d.length; at + 4 <= end;) {
      const std::uint32_t entry = BiffU32(stream_, at);
      const std::uint32_t first = entry & 0xFFFFF, count = entry >> 20;
      at += 4;
      if (at + std::size_t{count} * 4 > end) Damaged(u"persist directory entry");
      for (std::uint32_t k = 0; k < count; ++k, at += 4)
        persist.emplace(first + k, BiffU32(stream_, at));
    }
    const std::size_t previous = BiffU32(stream_, edit + kHeader + 8);
    if (previous == 0) break;
    edit = previous;
  }
  auto doc = persist.find(documentId);
  if (doc == persist.end() || doc->second + kHeader > stream_.size())
    Damaged(u"no document record");
  document_ = doc->second;
  const Header h = ReadHeader(stream_, document_);
  if (h.type != kDocument || h.version != 0x0F || document_ + kHeader + h.length > stream_.size())
    Damaged(u"document record");
  FindLinks(document_ + kHeader, document_ + kHeader + h.length, 0);
}

void BinaryPresentationContent::FindLinks(std::size_t at, std::size_t end, int depth) {
  if (depth > kMaxDepth) Damaged(u"records nested too deep");
  while (at + kHeader <= end) {
    const Header h = ReadHeader(stream_, at);
    const std::size_t body = at + kHeader;
    if (h.length > end - body) Damaged(u"a record runs past its container");
    if (h.type == kObjectList && h.version == 0x0F) {
      FindLinks(body, body + h.length, depth + 1);
    } else if (h.type == kHyperlink && h.version == 0x0F) {
      std::optional<std::size_t> target, shown;
      for (std::size_t c = body; c + kHeader <= body + h.length;) {
        const Header ch = ReadHeader(stream_, c);
        if (ch.length > body + h.length - c - kHeader) Damaged(u"a record runs past its container");
        if (ch.type == kString && ch.instance == kTarget) target = c;
        if (ch.type == kString && ch.instance == kFriendlyName) shown = c;
        c += kHeader + ch.length;
      }
      if (target) {
        const Header t = ReadHeader(stream_, *target);
        const std::u16string stored =
            Utf16(std::string_view(stream_).substr(*target + kHeader, t.length));
        auto parsed = ParseLinkTarget(stored, context_);
        if (parsed && parsed->suffix.empty()) {
          if (shown) {
            const Header s = ReadHeader(stream_, *shown);
            const std::u16string text =
                Utf16(std::string_view(stream_).substr(*shown + kHeader, s.length));
            if (text != stored && text != parsed->absolutePath) shown.reset();
          }
          links_.push_back({*target, shown, *parsed, parsed->absolutePath});
        }
      }
    }
    at = body + h.length;
  }
}

std::size_t BinaryPresentationContent::ListLinks() { return links_.size(); }

std::u16string BinaryPresentationContent::AbsolutePath(std::size_t index) const {
  return links_.at(index).path;
}

std::optional<std::u16string> BinaryPresentationContent::Stored(
    const Link& link, const std::u16string& newPath) const {
  for (char16_t c : newPath) {
    if (c < 0x20) return std::nullopt;
  }
  std::u16string stored = FormatLinkTarget(link.parsed, newPath, context_);
  auto back = ParseLinkTarget(stored, context_);
  if (stored.empty() || !back || back->absolutePath != newPath || !back->suffix.empty())
    return std::nullopt;
  return stored;
}

void BinaryPresentationContent::Repoint(std::size_t index, const std::u16string& newPath) {
  const std::u16string old = links_.at(index).path;
  std::vector<std::size_t> same;
  for (std::size_t i = 0; i < links_.size(); ++i) {
    if (SameLegacyPath(links_[i].path, old)) same.push_back(i);
  }
  for (std::size_t i : same) {
    if (!Stored(links_[i], newPath)) {
      throw ServiceError(error_number::kUnwritablePath,
                         u"Cannot re-point '" + old + u"' in '" + path_ + u"' to '" + newPath +
                             u"': the path cannot be written so that it reads back the same");
    }
  }
  for (std::size_t i : same) links_[i].path = newPath;
}

bool BinaryPresentationContent::HasChanges() const {
  for (const Link& link : links_) {
    auto stored = Stored(link, link.path);
    if (stored && *stored != link.parsed.stored) return true;
  }
  return false;
}

// The record at offset with the given string atoms replaced, every container
// around them resized.
std::string BinaryPresentationContent::Rebuilt(
    std::size_t offset, const std::map<std::size_t, std::u16string>& atoms) const {
  const Header h = ReadHeader(stream_, offset);
  const std::string_view whole = std::string_view(stream_).substr(offset, kHeader + h.length);
  if (auto atom = atoms.find(offset); atom != atoms.end()) {
    std::string data;
    for (char16_t c : atom->second) data += {static_cast<char>(c), static_cast<char>(c >> 8)};
    return Record(BiffU16(stream_, offset), h.type, data);
  }
  auto inside = atoms.lower_bound(offset + kHeader);
  if (h.version != 0x0F || inside == atoms.end() || inside->first >= offset + whole.size())
    return std::string(whole);
  std::string data;
  for (std::size_t c = offset + kHeader; c < offset + whole.size();) {
    const Header ch = ReadHeader(stream_, c);
    data += Rebuilt(c, atoms);
    c += kHeader + ch.length;
  }
  return Record(BiffU16(stream_, offset), h.type, data);
}

void BinaryPresentationContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  std::map<std::size_t, std::u16string> atoms;
  for (const Link& link : links_) {
    auto stored = Stored(link, link.path);
    if (!stored || *stored == link.parsed.stored) continue;
    atoms[link.target] = *stored;
    if (link.shown) atoms[*link.shown] = link.path;
  }
  // Appended: the new document, a directory that points its persist ID at
  // it, and an edit record that follows the current one.
  std::string stream = stream_;
  const auto documentAt = static_cast<std::uint32_t>(stream.size());
  stream += Rebuilt(document_, atoms);
  const std::uint32_t documentId = BiffU32(stream_, currentEdit_ + kHeader + 16);
  std::string directory(8, '\0');
  Put32(directory, 0, (documentId & 0xFFFFF) | (1u << 20));
  Put32(directory, 4, documentAt);
  const auto directoryAt = static_cast<std::uint32_t>(stream.size());
  stream += Record(0, kPersistDirectory, directory);
  const Header edit = ReadHeader(stream_, currentEdit_);
  std::string editData = stream_.substr(currentEdit_ + kHeader, edit.length);
  Put32(editData, 8, static_cast<std::uint32_t>(currentEdit_));
  Put32(editData, 12, directoryAt);
  const auto editAt = static_cast<std::uint32_t>(stream.size());
  stream += Record(BiffU16(stream_, currentEdit_), kUserEdit, editData);
  std::string user = currentUser_;
  Put32(user, 16, editAt);
  std::map<std::uint32_t, std::string> streams{{streamEntry_, std::move(stream)},
                                               {userEntry_, std::move(user)}};
  if (summaryEntry_) {
    auto summary = RewriteHyperlinkList(
        compound_->ReadStream(*summaryEntry_),
        [this](const std::u16string& address) -> std::optional<std::u16string> {
          auto parsed = ParseLinkTarget(address, context_);
          if (!parsed || !parsed->suffix.empty()) return std::nullopt;
          for (const Link& link : links_) {
            if (link.path != link.parsed.absolutePath &&
                SameLegacyPath(link.parsed.absolutePath, parsed->absolutePath))
              return FormatLinkTarget(*parsed, link.path, context_);
          }
          return std::nullopt;
        });
    if (summary) streams[*summaryEntry_] = std::move(*summary);
  }
  compound_->Write(streams, file_->fd(), outFd, faultHook);
}

void BinaryPresentationContent::Committed(const DocumentFile& newFile) { Load(newFile); }

}  // namespace quavelle::docserver
