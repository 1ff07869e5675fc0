#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Shortcut bytes written field by field from the published Shell Link layout,
// for the forms no shell at hand writes (share items, network links, blocks).
// Deliberately plain: every structure is laid out in the documented order.
namespace quavelle::testing {

// Item bodies (type byte and data; the size is added by the list).
std::string ComputerItem();          // the "My Computer" root folder
std::string NetworkRootItem();       // the network places root folder
std::string DriveItem(char letter);  // "C:\"
std::string NetworkItem(std::uint8_t type, const std::string& location);  // "\\srv1\proj"
std::string FileItem(bool folder, const std::string& name);
std::string UsersFolderItem();  // a delegate item, no file-system name

// A list of items with its terminator, without the size field.
std::string ItemList(const std::vector<std::string>& items);

struct NetworkLinkSpec {
  std::string netName;
  std::optional<std::string> deviceName;
  bool unicode = false;
  std::u16string netNameUnicode, deviceNameUnicode;
};

struct CraftedLink {
  std::optional<std::string> itemList;  // from ItemList()
  // Link information: a local path, a network link or neither.
  std::optional<std::string> localBasePath;
  std::optional<NetworkLinkSpec> network;
  std::string commonPathSuffix;
  bool unicodeLinkInfo = false;  // the 0x24 header with UTF-16 copies
  std::u16string localBasePathUnicode, commonPathSuffixUnicode;
  bool unicodeStrings = true;
  std::optional<std::u16string> name, relativePath, workingDir, arguments, iconLocation;
  std::vector<std::string> blocks;  // from the block helpers, in order
  bool terminalBlock = true;
};

std::string EnvironmentBlock(std::uint32_t signature, const std::string& ansi,
                             const std::u16string& unicode);
std::string VistaItemListBlock(const std::string& itemList);
std::string KnownFolderBlock(std::uint32_t offset);
std::string OpaqueBlock(std::uint32_t signature, std::size_t size, char fill);

inline constexpr std::uint32_t kEnvironmentSignature = 0xA0000001;
inline constexpr std::uint32_t kIconEnvironmentSignature = 0xA0000007;

std::string Build(const CraftedLink& link);

std::string Utf16(const std::u16string& text);

}  // namespace quavelle::testing
