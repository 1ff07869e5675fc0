#include "services/docserver/BinaryWordContent.h"

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BiffStream.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/FieldInstruction.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/LegacyPaths.h"

namespace quavelle::docserver {
namespace {

constexpr char16_t kFieldBegin = 0x13;
constexpr char16_t kFieldSeparator = 0x14;
constexpr char16_t kFieldEnd = 0x15;
constexpr char kHyperlinkId[] = "\xD0\xC9\xEA\x79\xF9\xBA\xCE\x11\x8C\x82\x00\xAA\x00\x4B\xA9\x0B";
constexpr std::size_t kIdSize = 16;
constexpr std::size_t kPictureHeader = 0x44;  // a picture's header before its name

std::optional<LinkTarget> FileTarget(std::u16string_view stored, const TargetContext& context) {
  auto target = ParseLinkTarget(stored, context);
  if (!target || !target->suffix.empty()) return std::nullopt;
  return target;
}

}  // namespace

BinaryWordContent::BinaryWordContent(std::u16string documentPath)
    : path_(std::move(documentPath)),
      context_{TargetSyntax::OfficeOpenXml, FolderOfDocument(path_), path_} {}

void BinaryWordContent::Load(const DocumentFile& file) {
  file_ = &file;
  places_.clear();
  links_.clear();
  compound_ = std::make_unique<CompoundFile>(file.fd(), file.identity().size, path_);
  auto document = compound_->Find({u"WordDocument"});
  if (!document) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot open '" + path_ + u"': no WordDocument stream");
  }
  documentEntry_ = *document;
  document_.reset();
  text_ = std::make_unique<WordBinaryText>(
      compound_->entries()[documentEntry_].size,
      [compound = compound_.get(), entry = documentEntry_,
       chain = compound_->StreamChain(documentEntry_)](std::uint64_t at, char* out,
                                                       std::size_t length) {
        compound->ReadStreamPart(entry, chain, at, out, length);
      },
      path_);
  auto table = compound_->Find({text_->tableStream()});
  if (!table) {
    throw ServiceError(error_number::kDamagedPackage,
                       u"Cannot open '" + path_ + u"': no table stream");
  }
  text_->ReadText(
      compound_->entries()[*table].size,
      [compound = compound_.get(), entry = *table, chain = compound_->StreamChain(*table)](
          std::uint64_t at, char* out, std::size_t length) {
        compound->ReadStreamPart(entry, chain, at, out, length);
      });
  // The field tables spare reading the whole text; when they disagree with
  // it anywhere, every character is read instead.
  WordFieldMarks marks;
  if (auto listed = text_->ListedFieldMarks(); listed && FindFields(*listed, true)) {
    marks = std::move(*listed);
  } else {
    places_.clear();
    marks = text_->FieldMarks();
    FindFields(marks, false);
  }
  // The data stream's objects are reached only through fields.
  dataEntry_ = compound_->Find({u"Data"});
  data_ = dataEntry_ && !marks.empty() ? compound_->ReadStream(*dataEntry_) : std::string();
  FindDataCopies();
  for (std::size_t i = 0; i < places_.size(); ++i) {
    bool seen = false;
    for (std::size_t k : links_) seen = seen || SameLegacyPath(places_[k].path, places_[i].path);
    if (!seen && places_[i].kind != Kind::PictureName) links_.push_back(i);
  }
}

bool BinaryWordContent::FindFields(const WordFieldMarks& marks, bool check) {
  // The marks' indexes of open fields' begins and separators, and whether a
  // nested field sits in the instruction (a computed path: left alone).
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  struct Open {
    std::size_t begin, separator;
    bool nested;
  };
  std::vector<Open> open;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const char16_t c = marks[i].second;
    if (c == kFieldBegin) {
      if (!open.empty() && open.back().separator == kNone) open.back().nested = true;
      open.push_back({i, kNone, false});
    } else if (c == kFieldSeparator && !open.empty()) {
      if (open.back().separator == kNone) open.back().separator = i;
    } else if (c == kFieldEnd && !open.empty()) {
      const Open field = open.back();
      open.pop_back();
      const std::size_t last = field.separator == kNone ? i : field.separator;
      const std::uint32_t begin = marks[field.begin].first, end = marks[last].first;
      std::u16string text;
      if (check) {
        // The text holds these marks and no others from begin to end.
        text = text_->Text(begin, end + 1);
        std::size_t k = field.begin;
        for (std::size_t at = 0; at < text.size(); ++at) {
          if (text[at] < kFieldBegin || text[at] > kFieldEnd) continue;
          if (k > last || marks[k].first != begin + at || marks[k].second != text[at]) return false;
          ++k;
        }
        if (k != last + 1) return false;
      }
      if (field.nested) continue;
      // Token positions are bytes of the UTF-8 form; places count characters.
      const std::string instruction =
          ToUtf8(check ? std::u16string_view(text).substr(1, end - begin - 1)
                       : std::u16string_view(text_->Text(begin + 1, end)));
      const std::vector<FieldToken> tokens = TokenizeField(instruction);
      const std::size_t k = FileArgument(tokens);
      if (k == kNoToken) continue;
      const FieldToken& token = tokens[k];
      auto target = FileTarget(FromUtf8(token.value), context_);
      if (!target) continue;
      const std::size_t first =
          FromUtf8(std::string_view(instruction).substr(0, token.begin)).size();
      const std::size_t lastChar =
          FromUtf8(std::string_view(instruction).substr(0, token.end)).size();
      Place p{Kind::Field, begin + 1 + first, lastChar - first,    token,
              {},          *target,           target->absolutePath};
      places_.push_back(std::move(p));
    }
  }
  return true;
}

void BinaryWordContent::FindDataCopies() {
  const std::string_view data = data_;
  const std::string_view id(kHyperlinkId, kIdSize);
  for (std::size_t at = data.find(id); at != std::string_view::npos; at = data.find(id, at + 1)) {
    std::size_t size = 0;
    auto object = ParseHyperlinkObject(data.substr(at + kIdSize), &size);
    if (!object || size == std::string_view::npos || object->target.empty()) continue;
    std::optional<LinkTarget> target;
    if (object->kind == MonikerKind::File && object->target.rfind(u"file:", 0) != 0) {
      if (auto full = ResolveLegacyPath(object->target, context_))
        target = LinkTarget{*full, {}, TargetForm::PlainPath, object->target};
    } else if (object->kind != MonikerKind::Other && object->kind != MonikerKind::None) {
      target = FileTarget(object->target, context_);
    }
    if (!target) continue;
    places_.push_back(
        {Kind::Moniker, at + kIdSize, size, {}, *object, *target, target->absolutePath});
  }
  // A linked picture keeps the name its field gives after its header.
  const std::size_t fields = places_.size();
  for (std::size_t f = 0; f < fields; ++f) {
    if (places_[f].kind != Kind::Field) continue;
    auto name = ToWindows1252(places_[f].target.stored);
    if (!name || name->empty() || name->size() > 0xFF) continue;
    const std::string pascal = static_cast<char>(name->size()) + *name;
    for (std::size_t at = data.find(pascal); at != std::string_view::npos;
         at = data.find(pascal, at + 1)) {
      if (at < kPictureHeader) continue;
      const std::size_t header = at - kPictureHeader;
      const std::uint32_t total = BiffU32(data, header);
      if (BiffU16(data, header + 4) != kPictureHeader || total < kPictureHeader + pascal.size() ||
          header + total > data.size())
        continue;
      bool known = false;
      for (const Place& p : places_) known = known || (p.kind == Kind::PictureName && p.at == at);
      if (known) continue;
      places_.push_back(
          {Kind::PictureName, at, header + total - at, {}, {}, places_[f].target, places_[f].path});
    }
  }
}

const std::string& BinaryWordContent::Document() const {
  if (!document_) document_ = compound_->ReadStream(documentEntry_);
  return *document_;
}

std::size_t BinaryWordContent::ListLinks() { return links_.size(); }

std::u16string BinaryWordContent::AbsolutePath(std::size_t index) const {
  return places_.at(links_.at(index)).path;
}

std::optional<std::string> BinaryWordContent::Render(const Place& place,
                                                     const std::u16string& newPath,
                                                     std::u16string& reason) const {
  for (char16_t c : newPath) {
    if (c < 0x20) {
      reason = u"a file name holds no control characters";
      return std::nullopt;
    }
  }
  std::u16string stored = FormatLinkTarget(place.target, newPath, context_);
  auto back = place.target.form == TargetForm::PlainPath && IsFullWindowsPath(stored)
                  ? std::optional<std::u16string>(stored)
                  : std::optional<std::u16string>();
  if (!back) {
    auto parsed = FileTarget(stored, context_);
    if (parsed) back = parsed->absolutePath;
  }
  if (stored.empty() || !back || *back != newPath) {
    reason = u"the path cannot be written so that it reads back the same";
    return std::nullopt;
  }
  if (place.kind == Kind::Field) {
    std::u16string argument = FromUtf8(WriteFieldArgument(place.token, ToUtf8(stored)));
    if (argument.size() > place.size) {
      reason =
          u"the new path is longer than the old one, and a binary document's text cannot grow "
          u"without moving every position after it (" +
          std::u16string(u"at most ") + FromUtf8(std::to_string(place.size)) +
          u" characters fit here)";
      return std::nullopt;
    }
    argument.append(place.size - argument.size(), u' ');
    if (!text_->Overwrite(nullptr, static_cast<std::uint32_t>(place.at), argument)) {
      reason = u"the document keeps this text in 8 bits, without these characters";
      return std::nullopt;
    }
    std::string bytes;
    for (char16_t c : argument) bytes += {static_cast<char>(c), static_cast<char>(c >> 8)};
    return bytes;
  }
  if (place.kind == Kind::PictureName) {
    auto name = ToWindows1252(stored);
    if (!name || name->size() + 1 > place.size || name->size() > 0xFF) {
      reason = u"the picture's new name is longer than the old one";
      return std::nullopt;
    }
    // The bytes after the name move up; the picture record keeps its size.
    const std::size_t oldLength = static_cast<unsigned char>(data_[place.at]);
    std::string out = static_cast<char>(name->size()) + *name;
    out.append(data_, place.at + 1 + oldLength, place.size - 1 - oldLength);
    if (out.size() > place.size) {
      reason = u"the picture's new name is longer than the old one";
      return std::nullopt;
    }
    out.append(place.size - out.size(), '\0');
    return out;
  }
  // A hyperlink object keeps its size: its strings are padded after their ends.
  const HyperlinkObject& o = place.object;
  std::string_view old = std::string_view(data_).substr(place.at, place.size);
  std::string out(old.substr(0, o.displayBegin));
  const bool hasDisplay = o.displayEnd > o.displayBegin;
  const std::size_t afterDisplay = hasDisplay ? o.displayEnd : o.displayBegin;
  if (hasDisplay && (o.display == o.target || o.display == place.path)) {
    const std::size_t oldChars = (o.displayEnd - o.displayBegin - 4) / 2;
    if (newPath.size() + 1 > oldChars) {
      reason = u"the new path is longer than the old one";
      return std::nullopt;
    }
    out += HyperlinkString(newPath, oldChars - newPath.size() - 1);
  } else {
    out.append(old.substr(o.displayBegin, afterDisplay - o.displayBegin));
  }
  out.append(old.substr(afterDisplay, o.monikerBegin - afterDisplay));
  auto moniker = FormatMonikerSized(o, stored, o.monikerEnd - o.monikerBegin);
  if (!moniker) {
    reason = u"the new path is longer than the old one";
    return std::nullopt;
  }
  out += *moniker;
  out.append(old.substr(o.monikerEnd));
  return out;
}

void BinaryWordContent::Repoint(std::size_t index, const std::u16string& newPath) {
  const std::u16string old = AbsolutePath(index);
  std::vector<std::size_t> same;
  for (std::size_t i = 0; i < places_.size(); ++i) {
    if (SameLegacyPath(places_[i].path, old)) same.push_back(i);
  }
  for (std::size_t i : same) {
    std::u16string reason;
    if (!Render(places_[i], newPath, reason)) {
      throw ServiceError(
          error_number::kUnwritablePath,
          u"Cannot re-point '" + old + u"' in '" + path_ + u"' to '" + newPath + u"': " + reason);
    }
  }
  for (std::size_t i : same) places_[i].path = newPath;
}

BinaryWordContent::Edits BinaryWordContent::Apply() const {
  Edits e{Document(), data_, false};
  for (const Place& p : places_) {
    if (p.path == p.target.absolutePath) continue;
    std::u16string reason;
    auto bytes = Render(p, p.path, reason);
    if (!bytes) continue;  // refused when it was re-pointed
    if (p.kind == Kind::Field) {
      std::u16string chars;
      for (std::size_t i = 0; i + 1 < bytes->size(); i += 2)
        chars += static_cast<char16_t>(BiffU16(*bytes, i));
      text_->Overwrite(&e.document, static_cast<std::uint32_t>(p.at), chars);
    } else {
      e.data.replace(p.at, bytes->size(), *bytes);
    }
  }
  e.changed = e.document != Document() || e.data != data_;
  return e;
}

bool BinaryWordContent::HasChanges() const {
  // Nothing re-pointed: no need to read the document to compare it.
  bool repointed = false;
  for (const Place& p : places_) repointed = repointed || p.path != p.target.absolutePath;
  return repointed && Apply().changed;
}

void BinaryWordContent::WriteChanged(int outFd, const FaultHook& faultHook) {
  Edits e = Apply();
  std::map<std::uint32_t, std::string> streams;
  if (e.document != Document()) streams[documentEntry_] = std::move(e.document);
  if (dataEntry_ && e.data != data_) streams[*dataEntry_] = std::move(e.data);
  compound_->Write(streams, file_->fd(), outFd, faultHook);
}

void BinaryWordContent::Committed(const DocumentFile& newFile) { Load(newFile); }

}  // namespace quavelle::docserver
