#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/WindowsPath.h"

// The shell's item list as a shortcut stores it: items of a 16-bit size and
// data, ended by an empty item. Only the items that name a drive ("C:\") or a
// network location ("\\srv1", "\\srv1\proj") are read and rewritten; every
// other item is kept as it is.
namespace quavelle::docserver {

struct ItemListLayout {
  std::vector<std::size_t> starts;        // each item's offset; the terminator's last
  std::optional<std::size_t> root;        // the last drive or network location item
  std::vector<std::u16string> rootNames;  // every drive and network location, in order
  bool rootIsDrive = false;
  bool onlyFilesBelowRoot = true;
};

// nullopt when an item runs past the list or the terminator is missing.
std::optional<ItemListLayout> ReadItemList(std::string_view list);

// Where an item of the old list starts in the new one.
struct ItemShift {
  std::vector<std::size_t> oldStarts, newStarts;
  // nullopt for an offset inside an item that changed size or was dropped.
  std::optional<std::size_t> Map(std::size_t oldOffset) const;
};

// The list with its root items moved from oldPath to newPath (see ShellLink.h
// for what is refused); throws ServiceError naming document. mappedDrive: the
// list starts at a drive letter that stands for oldPath's share.
std::string MovedItemList(std::string_view list, const ItemListLayout& layout,
                          const WindowsPath& oldPath, const WindowsPath& newPath,
                          const std::u16string& document, ItemShift& shift);

}  // namespace quavelle::docserver
