#include "services/docserver/PdfFileName.h"

#include <vector>

#include "services/PathText.h"
#include "services/Text.h"

namespace quavelle::docserver {
namespace {

using Text = std::u16string;
using View = std::u16string_view;

bool IsSep(char16_t c) { return IsPathSeparator(c); }
bool IsAsciiAlpha(char16_t c) { return IsAsciiLetter(c); }

bool FoldEqual(View a, View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::vector<Text> Split(View text, bool bothSeparators) {
  std::vector<Text> parts(1);
  for (char16_t c : text) {
    if (c == u'/' || (bothSeparators && c == u'\\')) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

Text Join(const std::vector<Text>& parts, std::size_t from, char16_t sep) {
  Text out;
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (i > from) out += sep;
    out += parts[i];
  }
  return out;
}

// A full path cut into its root and the names below it.
struct FullPath {
  enum class Kind { Drive, Share, Posix } kind = Kind::Posix;
  char16_t drive = 0;
  std::vector<Text> names;  // Share: server and share first
  std::size_t rootNames() const { return kind == Kind::Share ? 2 : 0; }
  bool windows() const { return kind != Kind::Posix; }
};

std::optional<FullPath> ReadFullPath(View path) {
  FullPath full;
  if (path.size() >= 3 && IsAsciiAlpha(path[0]) && path[1] == u':' && IsSep(path[2])) {
    full.kind = FullPath::Kind::Drive;
    full.drive = path[0];
    full.names = Split(path.substr(3), true);
  } else if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
    full.kind = FullPath::Kind::Share;
    full.names = Split(path.substr(2), true);
    if (full.names.size() < 2 || full.names[0].empty() || full.names[1].empty()) {
      return std::nullopt;
    }
  } else if (!path.empty() && path[0] == u'/') {
    full.names = Split(path.substr(1), false);
  } else {
    return std::nullopt;
  }
  if (full.names.size() == 1 && full.names[0].empty()) full.names.clear();
  return full;
}

Text RenderFullPath(const FullPath& full) {
  switch (full.kind) {
    case FullPath::Kind::Drive:
      return Text{full.drive, u':', u'\\'} + Join(full.names, 0, u'\\');
    case FullPath::Kind::Share:
      return u"\\\\" + Join(full.names, 0, u'\\');
    case FullPath::Kind::Posix:
      break;
  }
  return u"/" + Join(full.names, 0, u'/');
}

// names applied to folder (or to its root), ".." stopping at the root.
std::optional<Text> Resolve(View folder, const std::vector<Text>& names, bool fromRoot) {
  std::optional<FullPath> base = ReadFullPath(folder);
  if (!base) return std::nullopt;
  if (base->kind == FullPath::Kind::Posix && !base->names.empty() && base->names.back().empty()) {
    base->names.pop_back();  // a trailing separator
  }
  if (fromRoot) base->names.resize(base->rootNames());
  for (const Text& name : names) {
    if (name.empty() || name == u".") continue;
    if (name == u"..") {
      if (base->names.size() > base->rootNames()) base->names.pop_back();
      continue;
    }
    base->names.push_back(name);
  }
  return RenderFullPath(*base);
}

bool SameName(const FullPath& kind, View a, View b) {
  return kind.windows() ? FoldEqual(a, b) : a == b;
}

// newPath as names relative to folder, when both share a root.
std::optional<std::vector<Text>> RelativeNames(View folder, View newPath) {
  std::optional<FullPath> base = ReadFullPath(folder);
  std::optional<FullPath> target = ReadFullPath(newPath);
  if (!base || !target || base->kind != target->kind) return std::nullopt;
  if (base->kind == FullPath::Kind::Drive && FoldCase(base->drive) != FoldCase(target->drive)) {
    return std::nullopt;
  }
  if (!base->names.empty() && base->names.back().empty()) base->names.pop_back();
  const std::size_t root = base->rootNames();
  for (std::size_t i = 0; i < root; ++i) {
    if (!SameName(*base, base->names[i], target->names[i])) return std::nullopt;
  }
  std::size_t common = root;
  while (common < base->names.size() && common < target->names.size() &&
         SameName(*base, base->names[common], target->names[common])) {
    ++common;
  }
  if (common >= target->names.size()) return std::nullopt;  // the folder or above it
  std::vector<Text> names(base->names.size() - common, u"..");
  names.insert(names.end(), target->names.begin() + static_cast<std::ptrdiff_t>(common),
               target->names.end());
  return names;
}

TargetContext UrlContext(View folder) {
  return TargetContext{TargetSyntax::OpenDocument, Text(folder), Text()};
}

std::optional<PdfPath> ReadUrl(View text, View folder) {
  std::optional<LinkTarget> target = ParseLinkTarget(text, UrlContext(folder));
  if (!target) return std::nullopt;
  PdfPath path;
  path.absolutePath = target->absolutePath;
  path.form = PdfPathForm::Url;
  path.relative = target->form == TargetForm::RelativePath;
  path.url = std::move(*target);
  return path;
}

// The length of a URI scheme and its colon at the start of text, or 0. A
// single letter is a drive, not a scheme.
std::size_t SchemeLength(View text) {
  std::size_t i = 0;
  while (i < text.size() && (IsAsciiAlpha(text[i]) ||
                             (i > 0 && (text[i] == u'+' || text[i] == u'-' || text[i] == u'.' ||
                                        (text[i] >= u'0' && text[i] <= u'9'))))) {
    ++i;
  }
  return i >= 2 && i < text.size() && text[i] == u':' ? i + 1 : 0;
}

std::optional<PdfPath> ReadWindowsPath(View text, View folder) {
  PdfPath path;
  path.form = PdfPathForm::WindowsPath;
  for (char16_t c : text) {
    if (IsSep(c)) {
      path.separator = c;
      break;
    }
  }
  const bool drive = text.size() >= 2 && IsAsciiAlpha(text[0]) && text[1] == u':';
  if (drive || (text.size() > 2 && text[0] == u'\\' && text[1] == u'\\')) {
    if (drive && (text.size() < 3 || !IsSep(text[2]))) return std::nullopt;  // C:name
    Text literal(text);
    for (char16_t& c : literal) {
      if (c == u'/') c = u'\\';
    }
    path.absolutePath = std::move(literal);
    return path;
  }
  const bool fromRoot = IsSep(text[0]);
  std::optional<Text> resolved = Resolve(folder, Split(text, true), fromRoot);
  if (!resolved) return std::nullopt;
  path.absolutePath = std::move(*resolved);
  path.relative = true;
  return path;
}

std::optional<PdfPath> ReadSlashSyntax(View text, View folder) {
  PdfPath path;
  path.form = PdfPathForm::SlashSyntax;
  if (text.starts_with(u"//")) {
    std::vector<Text> names = Split(text.substr(2), false);
    if (names[0].empty()) return std::nullopt;
    path.absolutePath = u"\\\\" + Join(names, 0, u'\\');
    return path;
  }
  if (text[0] == u'/') {
    std::vector<Text> names = Split(text.substr(1), false);
    const Text& first = names[0];
    if (first.empty()) return std::nullopt;
    const Text rest = Join(names, 1, u'\\');
    if (IsAsciiAlpha(first[0]) && (first.size() == 1 || (first.size() == 2 && first[1] == u':'))) {
      path.driveColon = first.size() == 2;
      path.absolutePath = Text{first[0], u':', u'\\'} + rest;
    } else {
      path.oneSlashShare = true;
      path.absolutePath = u"\\\\" + first + (names.size() > 1 ? u"\\" + rest : Text());
    }
    return path;
  }
  std::optional<Text> resolved = Resolve(folder, Split(text, false), false);
  if (!resolved) return std::nullopt;
  path.absolutePath = std::move(*resolved);
  path.relative = true;
  return path;
}

Text WriteAbsolute(const PdfPath& found, View newPath) {
  std::optional<FullPath> full = ReadFullPath(newPath);
  if (!full || !full->windows()) return Text(newPath);  // cannot be said in this form
  if (found.form == PdfPathForm::WindowsPath) {
    Text out(newPath);
    for (char16_t& c : out) {
      if (c == u'\\') c = found.separator;
    }
    return out;
  }
  if (full->kind == FullPath::Kind::Drive) {
    Text out{u'/', full->drive};
    if (found.driveColon) out += u':';
    return out + u'/' + Join(full->names, 0, u'/');
  }
  return (found.oneSlashShare ? u"/" : u"//") + Join(full->names, 0, u'/');
}

}  // namespace

std::optional<PdfPath> ReadPdfPath(std::u16string_view text, PdfNameSyntax syntax,
                                   std::u16string_view folder) {
  if (text.empty()) return std::nullopt;
  if (syntax == PdfNameSyntax::Uri) return ReadUrl(text, folder);
  if (const std::size_t scheme = SchemeLength(text)) {
    if (scheme == 5 && FoldEqual(text.substr(0, 4), u"file")) return ReadUrl(text, folder);
    return std::nullopt;
  }
  const bool drive = text.size() >= 2 && IsAsciiAlpha(text[0]) && text[1] == u':';
  if (drive || text.find(u'\\') != View::npos) return ReadWindowsPath(text, folder);
  return ReadSlashSyntax(text, folder);
}

std::u16string WritePdfPath(const PdfPath& found, std::u16string_view newPath,
                            std::u16string_view folder) {
  if (found.form == PdfPathForm::Url) {
    return FormatLinkTarget(found.url, newPath, UrlContext(folder));
  }
  if (found.relative) {
    if (std::optional<std::vector<Text>> names = RelativeNames(folder, newPath)) {
      return Join(*names, 0, found.form == PdfPathForm::WindowsPath ? found.separator : u'/');
    }
  }
  return WriteAbsolute(found, newPath);
}

}  // namespace quavelle::docserver
