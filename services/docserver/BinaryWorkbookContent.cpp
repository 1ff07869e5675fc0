#include "services/docserver/BinaryWorkbookContent.h"

#include <algorithm>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BiffRecordCursor.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/LegacyPaths.h"
#include "services/docserver/VirtualPath.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint16_t kSelfReference = 0x0401;
constexpr std::uint16_t kAddInReference = 0x3A01;
constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kSharedStrings = 0x00FC;
constexpr std::size_t kHLinkObjectStart = 24;  // after the cell range and class ID

struct ExternalBookPath {
  std::size_t charsAt = 0, charsEnd = 0;
  bool wide = false;
  std::u16string encoded;
};

// The encoded path of an external-book record; nullopt for references to the
// workbook itself, to add-in functions, and for a path continued in the next
// record.
std::optional<ExternalBookPath> ReadExternalBook(std::string_view d) {
  if (d.size() < 5) return std::nullopt;
  const std::uint16_t chars = BiffU16(d, 2);
  if (chars == kSelfReference || chars == kAddInReference || chars == 0) return std::nullopt;
  ExternalBookPath p;
  p.wide = (d[4] & 1) != 0;
  p.charsAt = 5;
  p.charsEnd = p.charsAt + std::size_t{chars} * (p.wide ? 2 : 1);
  if (p.charsEnd > d.size()) return std::nullopt;
  for (std::size_t i = p.charsAt; i < p.charsEnd; i += p.wide ? 2 : 1)
    p.encoded.push_back(p.wide ? BiffU16(d, i) : static_cast<unsigned char>(d[i]));
  return p;
}

// Moves cursor, at the shared strings, to the first sheet after them, if a
// sheet starts where the workbook says.
bool SkipToFirstSheet(BiffRecordCursor& cursor, const std::vector<std::uint32_t>& sheets) {
  std::optional<std::uint32_t> next;
  for (std::uint32_t at : sheets) {
    if (at >= cursor.position() && (!next || at < *next)) next = at;
  }
  if (!next) return false;
  auto header = cursor.HeaderAt(*next);
  if (!header || header->first != biff::kBof) return false;
  cursor.Seek(*next);
  return true;
}

// Moves cursor, at a sheet's cell index, past the cell table, if the last
// cell block ends where the index says.
void SkipCellTable(BiffRecordCursor& cursor, std::string_view index) {
  // Reserved, first and last row, then the position of each cell block's
  // index record; the table ends with the last of them.
  constexpr std::size_t kBlocks = 16;
  if (index.size() < kBlocks + 4) return;
  const std::uint32_t last = BiffU32(index, kBlocks + (index.size() - kBlocks) / 4 * 4 - 4);
  if (last < cursor.position()) return;
  auto header = cursor.HeaderAt(last);
  if (!header || header->first != biff::kDbCell ||
      std::uint64_t{last} + 4 + header->second > cursor.size())
    return;
  cursor.Seek(std::uint64_t{last} + 4 + header->second);
}

}  // namespace

BinaryWorkbookContent::BinaryWorkbookContent(std::u16string documentPath)
    : path_(std::move(documentPath)),
      context_{TargetSyntax::OfficeOpenXml, FolderOfDocument(path_), path_} {}

void BinaryWorkbookContent::Load(const DocumentFile& file) {
  file_ = &file;
  links_.clear();
  compound_ = std::make_unique<CompoundFile>(file.fd(), file.identity().size, path_);
  auto workbook = compound_->Find({u"Workbook"});
  if (!workbook || compound_->entries()[*workbook].type != CompoundEntry::kStream) {
    throw ServiceError(
        error_number::kEncryptedDocument,
        u"Cannot open '" + path_ +
            u"': a workbook older than the 97 binary format, not changed by this server");
  }
  workbookEntry_ = *workbook;
  records_.clear();
  WalkWorkbook();
  FindLinks();
}

void BinaryWorkbookContent::WalkWorkbook() {
  const std::uint64_t size = compound_->entries()[workbookEntry_].size;
  BiffRecordCursor cursor(
      size,
      [compound = compound_.get(), entry = workbookEntry_,
       chain = compound_->StreamChain(workbookEntry_)](std::uint64_t at, char* out,
                                                       std::size_t length) {
        compound->ReadStreamPart(entry, chain, at, out, length);
      },
      path_);
  auto notBiff8 = [this] {
    return ServiceError(error_number::kEncryptedDocument,
                        u"Cannot open '" + path_ + u"': not a workbook in the 97 binary format");
  };
  // Links sit only in external-book records of the globals (before the
  // shared strings) and in hyperlink records of the sheets (after the cell
  // table): the shared strings and indexed cell tables are passed over. What
  // is passed over is walked in full before anything is written.
  std::vector<std::uint32_t> sheets;
  bool globals = true;
  BiffRecord r;
  if (!cursor.Next(r) || r.type != biff::kBof || r.data.size() < 2 || BiffU16(r.data, 0) != kBiff8)
    throw notBiff8();
  auto wanted = [](std::uint16_t type) {
    switch (type) {
      case biff::kFilePass:
      case biff::kEof:
      case biff::kBoundSheet:
      case biff::kSupBook:
      case biff::kHLink:
      case kSharedStrings:
      case biff::kIndex:
        return true;
      default:
        return false;
    }
  };
  while (cursor.NextOf(r, wanted)) {
    switch (r.type) {
      case biff::kFilePass:
        if (globals) {
          throw ServiceError(error_number::kEncryptedDocument,
                             u"Cannot open '" + path_ + u"': the workbook is encrypted");
        }
        break;
      case biff::kEof:
        globals = false;  // the end of the workbook globals
        break;
      case biff::kBoundSheet:
        if (globals && r.data.size() >= 4) sheets.push_back(BiffU32(r.data, 0));
        break;
      case biff::kSupBook:
      case biff::kHLink:
        records_.push_back({r.offset, r.type, std::string(r.data)});
        break;
      case kSharedStrings:
        if (globals && SkipToFirstSheet(cursor, sheets)) globals = false;
        break;
      case biff::kIndex:
        if (!globals) SkipCellTable(cursor, r.data);
        break;
      default:
        break;
    }
  }
}

void BinaryWorkbookContent::FindLinks() {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const Kept& r = records_[i];
    if (r.type == biff::kSupBook) {
      auto book = ReadExternalBook(r.data);
      if (!book) continue;
      auto decoded = DecodeVirtualPath(book->encoded);
      if (!decoded) continue;
      auto full = ResolveLegacyPath(*decoded, context_);
      if (!full) continue;
      links_.push_back({Kind::ExternalBook, i, *full, *full, *decoded, std::nullopt});
    } else if (r.type == biff::kHLink && r.data.size() > kHLinkObjectStart) {
      auto object =
          ParseHyperlinkObject(std::string_view(r.data).substr(kHLinkObjectStart), nullptr);
      if (!object) continue;
      if (object->kind == MonikerKind::File) {
        auto full = ResolveLegacyPath(object->target, context_);
        if (full)
          links_.push_back({Kind::FileMoniker, i, *full, *full, object->target, std::nullopt});
      } else if (object->kind == MonikerKind::Url || object->kind == MonikerKind::Text) {
        auto target = ParseLinkTarget(object->target, context_);
        if (target && target->form == TargetForm::FileUrl) {
          links_.push_back({Kind::UrlMoniker, i, target->absolutePath, target->absolutePath,
                            object->target, target});
        }
      }
    }
  }
}

std::size_t BinaryWorkbookContent::ListLinks() { return links_.size(); }

std::u16string BinaryWorkbookContent::AbsolutePath(std::size_t index) const {
  return links_.at(index).absolutePath;
}

std::optional<std::string> BinaryWorkbookContent::RecordFor(const Link& link,
                                                            const std::u16string& path) const {
  std::string_view d = records_[link.record].data;
  for (char16_t c : path) {
    if (c < 0x20) return std::nullopt;  // no file name holds control characters
  }
  std::string out;
  if (link.kind == Kind::ExternalBook) {
    auto book = ReadExternalBook(d);
    auto encoded = EncodeVirtualPath(path);
    if (!book || !encoded || DecodeVirtualPath(*encoded) != path) return std::nullopt;
    bool wide = book->wide;
    for (char16_t c : *encoded) wide = wide || c > 0xFF;
    out.append(d.substr(0, 2));
    out.push_back(static_cast<char>(encoded->size()));
    out.push_back(static_cast<char>(encoded->size() >> 8));
    out.push_back(wide ? '\1' : '\0');
    for (char16_t c : *encoded) {
      out.push_back(static_cast<char>(c));
      if (wide) out.push_back(static_cast<char>(c >> 8));
    }
    out.append(d.substr(book->charsEnd));
  } else {
    std::string_view objectBytes = d.substr(kHLinkObjectStart);
    auto object = ParseHyperlinkObject(objectBytes, nullptr);
    if (!object) return std::nullopt;
    std::u16string stored = path;
    if (link.kind == Kind::UrlMoniker) {
      stored = FormatLinkTarget(*link.url, path, context_);
      auto back = ParseLinkTarget(stored, context_);
      if (!back || back->absolutePath != path) return std::nullopt;
    } else if (!IsFullWindowsPath(path)) {
      return std::nullopt;  // a file moniker holds a Windows path
    }
    auto moniker = FormatMoniker(*object, stored);
    if (!moniker) return std::nullopt;
    out.append(d.substr(0, kHLinkObjectStart));
    out.append(objectBytes.substr(0, object->displayBegin));
    // A display text that shows the path moves with it.
    if (object->displayEnd > object->displayBegin &&
        (object->display == object->target || object->display == link.absolutePath)) {
      out += HyperlinkString(path);
    } else {
      out.append(
          objectBytes.substr(object->displayBegin, object->displayEnd - object->displayBegin));
    }
    const std::size_t afterDisplay = std::max(object->displayEnd, object->displayBegin);
    out.append(objectBytes.substr(afterDisplay, object->monikerBegin - afterDisplay));
    out += *moniker;
    out.append(objectBytes.substr(object->monikerEnd));
  }
  if (out.size() > biff::kMaxRecordData) return std::nullopt;
  return out;
}

void BinaryWorkbookContent::Repoint(std::size_t index, const std::u16string& newPath) {
  const std::u16string old = links_.at(index).absolutePath;
  std::vector<std::size_t> same;
  for (std::size_t i = 0; i < links_.size(); ++i) {
    if (SameLegacyPath(links_[i].absolutePath, old)) same.push_back(i);
  }
  for (std::size_t i : same) {
    if (!RecordFor(links_[i], newPath)) {
      throw ServiceError(error_number::kUnwritablePath,
                         u"Cannot re-point a link in '" + path_ + u"' to '" + newPath +
                             u"': a binary workbook stores only drive or server paths of "
                             u"Windows characters, and a record of at most 8224 bytes");
    }
  }
  for (std::size_t i : same) links_[i].absolutePath = newPath;
}

std::map<std::size_t, std::string> BinaryWorkbookContent::Edits() const {
  std::map<std::size_t, std::string> edits;
  for (const Link& link : links_) {
    if (link.absolutePath == link.loadedPath) continue;
    auto data = RecordFor(link, link.absolutePath);
    if (data && *data != records_[link.record].data) edits[link.record] = std::move(*data);
  }
  return edits;
}

bool BinaryWorkbookContent::HasChanges() const { return !Edits().empty(); }

void BinaryWorkbookContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  const std::string workbook = compound_->ReadStream(workbookEntry_);
  const std::vector<BiffRecord> all = WalkBiffRecords(workbook, path_);
  std::map<std::size_t, std::string> edits;
  for (auto& [kept, data] : Edits()) {
    const std::size_t offset = records_[kept].offset;
    auto it = std::lower_bound(all.begin(), all.end(), offset,
                               [](const BiffRecord& r, std::size_t o) { return r.offset < o; });
    if (it == all.end() || it->offset != offset || it->data != records_[kept].data)
      DamagedBiffStream(path_, u"the workbook stream changed since it was read");
    edits[static_cast<std::size_t>(it - all.begin())] = std::move(data);
  }
  std::string stream = RewriteBiffStream(workbook, all, edits, path_);
  compound_->Write({{workbookEntry_, std::move(stream)}}, file_->fd(), outFd, faultHook);
}

void BinaryWorkbookContent::Committed(const DocumentFile& newFile) { Load(newFile); }

}  // namespace quavelle::docserver
