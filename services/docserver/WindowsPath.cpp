#include "services/docserver/WindowsPath.h"

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

std::vector<std::u16string_view> SplitNames(std::u16string_view text) {
  std::vector<std::u16string_view> names;
  while (!text.empty()) {
    const std::size_t end = text.find(u'\\');
    names.push_back(text.substr(0, end));
    if (end == std::u16string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return names;
}

bool ValidName(std::u16string_view name) {
  if (name.empty()) return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
        c == u'>' || c == u'|') {
      return false;
    }
  }
  return true;
}

std::u16string Join(std::u16string root, const std::vector<std::u16string>& names,
                    std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) root += u'\\' + names[i];
  return root;
}

}  // namespace

std::optional<WindowsPath> SplitWindowsPath(std::u16string_view path) {
  WindowsPath result;
  std::u16string_view rest;
  if (path.size() >= 3 && IsLetter(path[0]) && path[1] == u':' && path[2] == u'\\') {
    result.kind = WindowsPath::Kind::Drive;
    result.root = path.substr(0, 2);
    rest = path.substr(3);
  } else if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
    std::u16string_view unc = path.substr(2);
    const auto parts = SplitNames(unc);
    if (parts.size() < 2 || !ValidName(parts[0]) || !ValidName(parts[1])) return std::nullopt;
    if (parts[0] == u"?" || parts[0] == u".") return std::nullopt;
    result.kind = WindowsPath::Kind::Share;
    result.root = u"\\\\" + std::u16string(parts[0]) + u"\\" + std::u16string(parts[1]);
    const std::size_t used = parts[0].size() + 1 + parts[1].size();
    rest = used < unc.size() ? unc.substr(used + 1) : std::u16string_view{};
  } else {
    return std::nullopt;
  }
  if (rest.empty()) return result;  // the root itself
  for (std::u16string_view name : SplitNames(rest)) {
    if (!ValidName(name)) return std::nullopt;
    result.names.emplace_back(name);
  }
  return result;
}

std::u16string ServerOrDrive(const WindowsPath& path) {
  if (path.kind == WindowsPath::Kind::Drive) return path.root;
  return path.root.substr(0, path.root.find(u'\\', 2));
}

bool SameWindowsName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

PrefixMove MoveBetween(const WindowsPath& oldPath, const WindowsPath& newPath) {
  // The share name counts as a name that may stay; the server or drive moves.
  std::vector<std::u16string> oldNames = oldPath.names;
  std::vector<std::u16string> newNames = newPath.names;
  std::u16string oldBase = ServerOrDrive(oldPath);
  std::u16string newBase = ServerOrDrive(newPath);
  if (oldPath.kind == WindowsPath::Kind::Share) {
    oldNames.insert(oldNames.begin(), oldPath.root.substr(oldBase.size() + 1));
  }
  if (newPath.kind == WindowsPath::Kind::Share) {
    newNames.insert(newNames.begin(), newPath.root.substr(newBase.size() + 1));
  }
  std::size_t common = 0;
  while (common < oldNames.size() && common < newNames.size() &&
         SameWindowsName(oldNames[oldNames.size() - 1 - common],
                         newNames[newNames.size() - 1 - common])) {
    ++common;
  }
  return {Join(oldBase, oldNames, oldNames.size() - common),
          Join(newBase, newNames, newNames.size() - common)};
}

std::optional<std::u16string> ApplyMove(const PrefixMove& move, std::u16string_view text) {
  if (move.from.empty() || text.size() < move.from.size()) return std::nullopt;
  if (!SameWindowsName(text.substr(0, move.from.size()), move.from)) return std::nullopt;
  if (text.size() > move.from.size() && text[move.from.size()] != u'\\') return std::nullopt;
  return move.to + std::u16string(text.substr(move.from.size()));
}

}  // namespace quavelle::docserver
