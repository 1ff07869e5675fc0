#include "services/docserver/ItemIdList.h"

#include <cstdint>

#include "services/docserver/ShortcutErrors.h"
#include "services/docserver/Windows1252.h"

namespace quavelle::docserver {
namespace {

std::size_t U16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) |
         (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8);
}

unsigned Type(std::string_view item) {
  return item.size() > 2 ? static_cast<unsigned char>(item[2]) : 0u;
}

// "C:\" at offset 3 of a volume item.
std::optional<char> DriveLetter(std::string_view item) {
  if ((Type(item) & 0x70) != 0x20 || item.size() < 6) return std::nullopt;
  const char letter = item[3];
  const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  if (!isLetter || item[4] != ':' || item[5] != '\\') return std::nullopt;
  return letter;
}

// The location string of a network item: its span in the item when it names a
// server or share ("\\...").
struct Location {
  std::size_t begin, end;  // end is the terminating zero
};
std::optional<Location> NetworkLocation(std::string_view item) {
  const unsigned type = Type(item);
  if ((type & 0x70) != 0x40 || (type & 0x0F) == 0x0D || item.size() < 8) return std::nullopt;
  const std::size_t end = item.find('\0', 5);
  if (end == std::string_view::npos || item.substr(5, 2) != "\\\\") return std::nullopt;
  return Location{5, end};
}

bool IsFileItem(std::string_view item) { return (Type(item) & 0x70) == 0x30; }

std::string_view ItemAt(std::string_view list, const ItemListLayout& layout, std::size_t i) {
  return list.substr(layout.starts[i], layout.starts[i + 1] - layout.starts[i]);
}

void PutU16(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

}  // namespace

std::optional<ItemListLayout> ReadItemList(std::string_view list) {
  ItemListLayout layout;
  std::size_t at = 0;
  while (true) {
    if (at + 2 > list.size()) return std::nullopt;
    const std::size_t size = U16(list, at);
    layout.starts.push_back(at);
    if (size == 0) break;
    if (size < 2 || size > list.size() - at) return std::nullopt;
    at += size;
  }
  const std::size_t count = layout.starts.size() - 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view item = ItemAt(list, layout, i);
    if (auto letter = DriveLetter(item)) {
      layout.rootNames.push_back(std::u16string{static_cast<char16_t>(*letter), u':', u'\\'});
      layout.root = i;
      layout.rootIsDrive = true;
    } else if (auto location = NetworkLocation(item)) {
      layout.rootNames.push_back(
          DecodeWindows1252(item.substr(location->begin, location->end - location->begin)));
      layout.root = i;
      layout.rootIsDrive = false;
    }
  }
  if (layout.root) {
    for (std::size_t i = *layout.root + 1; i < count; ++i) {
      if (!IsFileItem(ItemAt(list, layout, i))) layout.onlyFilesBelowRoot = false;
    }
  }
  return layout;
}

std::optional<std::size_t> ItemShift::Map(std::size_t oldOffset) const {
  for (std::size_t i = 0; i < oldStarts.size(); ++i) {
    if (oldStarts[i] == oldOffset) {
      if (newStarts[i] == SIZE_MAX) return std::nullopt;
      return newStarts[i];
    }
    if (oldStarts[i] > oldOffset) {
      // Inside the item before: only where nothing before it moved.
      if (i == 0 || newStarts[i - 1] != oldStarts[i - 1] || newStarts[i] != oldStarts[i]) {
        return std::nullopt;
      }
      return oldOffset;
    }
  }
  return std::nullopt;
}

std::string MovedItemList(std::string_view list, const ItemListLayout& layout,
                          const WindowsPath& oldPath, const WindowsPath& newPath,
                          const std::u16string& document, ItemShift& shift) {
  using Kind = WindowsPath::Kind;
  if (!layout.root) {
    throw UnwritableTarget(document, u"its item list names no drive or share");
  }
  if (!layout.onlyFilesBelowRoot) {
    throw UnwritableTarget(document,
                           u"its item list holds items other than folders and files "
                           u"below the drive or share");
  }
  const std::size_t root = *layout.root;
  const std::size_t count = layout.starts.size() - 1;
  const std::size_t below = count - root - 1;
  const bool mappedDrive = layout.rootIsDrive && oldPath.kind == Kind::Share;
  if (!layout.rootIsDrive && oldPath.kind == Kind::Drive) {
    throw UnwritableTarget(document, u"its item list names a share, its link information a drive");
  }
  if (oldPath.kind != newPath.kind) {
    throw UnwritableTarget(document, oldPath.kind == Kind::Drive
                                         ? u"a drive target cannot become a share path"
                                         : u"a share target cannot become a drive path");
  }
  if (below != oldPath.names.size()) {
    throw UnwritableTarget(document,
                           u"its item list and its link information name different targets");
  }
  // The items below the root keep their names: the new path may only drop
  // leading folders, and a mapped drive none.
  const std::size_t kept = newPath.names.size();
  bool namesKept = kept <= below && (!mappedDrive || kept == below);
  for (std::size_t i = 0; namesKept && i < kept; ++i) {
    namesKept = SameWindowsName(newPath.names[i], oldPath.names[below - kept + i]);
  }
  if (!namesKept) {
    throw UnwritableTarget(document,
                           u"the shortcut keeps one item per folder below the drive or share; "
                           u"only the drive, server or share and leading folders can change");
  }
  const std::size_t dropFrom = root + 1;
  const std::size_t dropTo = root + 1 + (below - kept);

  const std::u16string oldServer = ServerOrDrive(oldPath);
  const std::u16string newServer = ServerOrDrive(newPath);
  std::string out;
  shift.oldStarts = layout.starts;
  shift.newStarts.assign(layout.starts.size(), SIZE_MAX);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view item = ItemAt(list, layout, i);
    if (i >= dropFrom && i < dropTo) continue;
    shift.newStarts[i] = out.size();
    if (i > root || mappedDrive) {
      out.append(item);
      continue;
    }
    if (layout.rootIsDrive && i == root) {
      std::string moved(item);
      const char16_t letter = newPath.root[0];
      moved[3] = static_cast<char>(letter >= u'a' ? letter - (u'a' - u'A') : letter);
      if (!SameWindowsName(std::u16string(1, static_cast<char16_t>(item[3])),
                           oldPath.root.substr(0, 1))) {
        throw UnwritableTarget(document,
                               u"its item list and its link information name different drives");
      }
      out += moved;
      continue;
    }
    const auto location = NetworkLocation(item);
    if (!location) {
      out.append(item);
      continue;
    }
    const std::u16string name =
        DecodeWindows1252(item.substr(location->begin, location->end - location->begin));
    std::optional<std::u16string> replacement;
    if (SameWindowsName(name, oldPath.root)) {
      replacement = newPath.root;
    } else if (SameWindowsName(name, oldServer)) {
      replacement = newServer;
    } else if (i == root) {
      throw UnwritableTarget(document,
                             u"its item list and its link information name different shares");
    }
    if (!replacement) {
      out.append(item);
      continue;
    }
    const auto encoded = EncodeWindows1252(*replacement);
    if (!encoded) {
      throw UnwritableTarget(document, u"the server or share name '" + *replacement +
                                           u"' has characters the 8-bit code page cannot hold");
    }
    std::string moved = std::string(item.substr(2, location->begin - 2)) + *encoded +
                        std::string(item.substr(location->end));
    if (moved.size() + 2 > 0xFFFF) throw TargetDoesNotFit(document, u"an item grows too large");
    PutU16(out, moved.size() + 2);
    out += moved;
  }
  shift.newStarts[count] = out.size();
  out.append(list.substr(layout.starts[count]));
  return out;
}

}  // namespace quavelle::docserver
