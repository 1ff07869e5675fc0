#include "services/docserver/LegacyPaths.h"

#include <vector>

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool HasDrive(std::u16string_view p) {
  return p.size() >= 2 && p[1] == u':' &&
         ((p[0] >= u'A' && p[0] <= u'Z') || (p[0] >= u'a' && p[0] <= u'z'));
}

}  // namespace

bool IsFullWindowsPath(std::u16string_view p) {
  if (HasDrive(p)) return p.size() > 2 && p[2] == u'\\';
  return p.size() > 2 && p.substr(0, 2) == u"\\\\" && p[2] != u'\\';
}

std::u16string FolderOfDocument(std::u16string_view documentPath) {
  const std::size_t slash = documentPath.find_last_of(u"/\\");
  if (slash == std::u16string_view::npos) return {};
  if (slash == 0) return std::u16string(documentPath.substr(0, 1));
  return std::u16string(documentPath.substr(0, slash));
}

std::optional<std::u16string> ResolveLegacyPath(std::u16string_view path,
                                                const TargetContext& context) {
  if (path.empty()) return std::nullopt;
  if (IsFullWindowsPath(path)) return std::u16string(path);
  const std::u16string& base = context.base;
  const bool windows = IsFullWindowsPath(base) || HasDrive(base);
  const char16_t sep = windows ? u'\\' : u'/';
  // The root the path cannot climb past, and the folders below it.
  std::u16string root;
  std::u16string_view rest = base;
  if (!windows) {
    root = u"/";
    rest.remove_prefix(rest.empty() || rest[0] != u'/' ? 0 : 1);
  } else if (HasDrive(base)) {
    root = std::u16string(base.substr(0, 2)) + u"\\";
    rest.remove_prefix(std::min<std::size_t>(3, rest.size()));
  } else {
    const std::size_t server = base.find(u'\\', 2);
    const std::size_t share =
        server == std::u16string::npos ? server : base.find(u'\\', server + 1);
    root = std::u16string(base.substr(0, share)) + u"\\";
    rest = share == std::u16string::npos ? std::u16string_view() : rest.substr(share + 1);
  }
  std::vector<std::u16string> parts;
  auto add = [&parts](std::u16string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i < text.size() && !IsSeparator(text[i])) continue;
      std::u16string_view part = text.substr(start, i - start);
      start = i + 1;
      if (part.empty() || part == u".") continue;
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else {
        parts.emplace_back(part);
      }
    }
  };
  if (!IsSeparator(path[0])) add(rest);  // a leading separator is the root of the base
  add(path);
  std::u16string out = root;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}

bool SameLegacyPath(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  const bool windows = IsFullWindowsPath(a);
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (windows ? FoldCase(a[i]) != FoldCase(b[i]) : a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace quavelle::docserver
