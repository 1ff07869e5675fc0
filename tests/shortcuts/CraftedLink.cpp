#include "CraftedLink.h"

namespace quavelle::testing {
namespace {

void U16(std::string& out, std::size_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void U32(std::string& out, std::size_t v) {
  U16(out, v & 0xFFFF);
  U16(out, v >> 16);
}
std::string Le32(std::size_t v) {
  std::string out;
  U32(out, v);
  return out;
}

const std::string kComputerId("\xE0\x4F\xD0\x20\xEA\x3A\x69\x10\xA2\xD8\x08\x00\x2B\x30\x30\x9D",
                              16);
const std::string kNetworkId("\xC6\x0A\x2D\x20\xEA\x3A\x69\x10\xA2\xD7\x08\x00\x2B\x30\x30\x9D",
                             16);

std::string LinkInfo(const CraftedLink& link) {
  const std::size_t header = link.unicodeLinkInfo ? 0x24 : 0x1C;
  std::uint32_t flags = (link.localBasePath ? 1u : 0u) | (link.network ? 2u : 0u);
  std::string volume, network;
  if (link.localBasePath) {
    // Fixed drive, a serial, an empty label at offset 0x10.
    U32(volume, 0x11);
    U32(volume, 3);
    U32(volume, 0x1234ABCD);
    U32(volume, 0x10);
    volume.push_back('\0');
  }
  if (link.network) {
    const NetworkLinkSpec& n = *link.network;
    const std::size_t head = n.unicode ? 0x1C : 0x14;
    std::string strings = n.netName + '\0';
    std::size_t deviceAt = 0;
    if (n.deviceName) {
      deviceAt = head + strings.size();
      strings += *n.deviceName + '\0';
    }
    std::size_t netU = 0, devU = 0;
    if (n.unicode) {
      if ((head + strings.size()) % 2) strings.push_back('\0');
      netU = head + strings.size();
      strings += Utf16(n.netNameUnicode) + std::string(2, '\0');
      if (n.deviceName) {
        devU = head + strings.size();
        strings += Utf16(n.deviceNameUnicode) + std::string(2, '\0');
      }
    }
    U32(network, head + strings.size());
    U32(network, n.deviceName ? 3 : 2);  // ValidDevice, ValidNetType
    U32(network, head);
    U32(network, deviceAt);
    U32(network, 0x20000);  // a provider type
    if (n.unicode) {
      U32(network, netU);
      U32(network, devU);
    }
    network += strings;
  }
  std::string body;
  std::size_t volumeAt = 0, baseAt = 0, networkAt = 0, suffixAt = 0, baseU = 0, suffixU = 0;
  if (link.localBasePath) {
    volumeAt = header + body.size();
    body += volume;
    baseAt = header + body.size();
    body += *link.localBasePath + '\0';
  }
  if (link.network) {
    networkAt = header + body.size();
    body += network;
  }
  suffixAt = header + body.size();
  body += link.commonPathSuffix + '\0';
  if (link.unicodeLinkInfo) {
    if (link.localBasePath) {
      baseU = header + body.size();
      body += Utf16(link.localBasePathUnicode) + std::string(2, '\0');
    }
    suffixU = header + body.size();
    body += Utf16(link.commonPathSuffixUnicode) + std::string(2, '\0');
  }
  std::string out;
  U32(out, header + body.size());
  U32(out, header);
  U32(out, flags);
  U32(out, volumeAt);
  U32(out, baseAt);
  U32(out, networkAt);
  U32(out, suffixAt);
  if (link.unicodeLinkInfo) {
    U32(out, baseU);
    U32(out, suffixU);
  }
  return out + body;
}

}  // namespace

std::string Utf16(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) U16(out, c);
  return out;
}

std::string ComputerItem() { return std::string("\x1F\x50", 2) + kComputerId; }
std::string NetworkRootItem() { return std::string("\x1F\x58", 2) + kNetworkId; }

std::string DriveItem(char letter) {
  std::string item = "\x2F";
  item += letter;
  item += ":\\";
  item.resize(23, '\0');
  return item;
}

std::string NetworkItem(std::uint8_t type, const std::string& location) {
  std::string item(1, static_cast<char>(type));
  item += '\x01';
  item += '\x80';  // a description follows
  item += location + '\0' + "Network" + '\0';
  item += std::string(2, '\0');
  return item;
}

std::string FileItem(bool folder, const std::string& name) {
  std::string item(1, folder ? '\x31' : '\x32');
  item += '\0';
  U32(item, folder ? 0 : 1234);
  U32(item, 0x5A215A21);  // a date and time
  U16(item, folder ? 0x10 : 0x20);
  item += name + '\0';
  if (item.size() % 2) item.push_back('\0');
  return item;
}

std::string UsersFolderItem() {
  std::string item("\x74\x00", 2);
  item += std::string(20, '\x55');
  return item;
}

std::string ItemList(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) {
    U16(out, item.size() + 2);
    out += item;
  }
  U16(out, 0);
  return out;
}

std::string EnvironmentBlock(std::uint32_t signature, const std::string& ansi,
                             const std::u16string& unicode) {
  std::string block;
  U32(block, 0x314);
  U32(block, signature);
  std::string a = ansi;
  a.resize(260, '\0');
  std::string u = Utf16(unicode);
  u.resize(520, '\0');
  return block + a + u;
}

std::string VistaItemListBlock(const std::string& itemList) {
  return Le32(8 + itemList.size()) + Le32(0xA000000C) + itemList;
}

std::string KnownFolderBlock(std::uint32_t offset) {
  // A known folder's id, then where its items end in the item list.
  return Le32(0x1C) + Le32(0xA000000B) + std::string(16, '\x42') + Le32(offset);
}

std::string OpaqueBlock(std::uint32_t signature, std::size_t size, char fill) {
  return Le32(size) + Le32(signature) + std::string(size - 8, fill);
}

std::string Build(const CraftedLink& link) {
  std::uint32_t flags = 0;
  if (link.itemList) flags |= 0x1;
  if (link.localBasePath || link.network) flags |= 0x2;
  const std::optional<std::u16string>* strings[5] = {
      &link.name, &link.relativePath, &link.workingDir, &link.arguments, &link.iconLocation};
  for (int i = 0; i < 5; ++i) {
    if (*strings[i]) flags |= 0x4u << i;
  }
  if (link.unicodeStrings) flags |= 0x80;
  std::string out;
  U32(out, 0x4C);
  out += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
  U32(out, flags);
  U32(out, 0x20);                  // archive
  out += std::string(24, '\x11');  // three times
  U32(out, 1234);                  // target size
  U32(out, 0);                     // icon index
  U32(out, 1);                     // show normal
  out += std::string(12, '\0');    // hot key and reserved
  if (link.itemList) {
    U16(out, link.itemList->size());
    out += *link.itemList;
  }
  if (flags & 0x2) out += LinkInfo(link);
  for (int i = 0; i < 5; ++i) {
    if (!*strings[i]) continue;
    const std::u16string& text = **strings[i];
    U16(out, text.size());
    if (link.unicodeStrings) {
      out += Utf16(text);
    } else {
      for (char16_t c : text) out.push_back(static_cast<char>(c));
    }
  }
  for (const auto& block : link.blocks) out += block;
  if (link.terminalBlock) U32(out, 0);
  return out;
}

}  // namespace quavelle::testing
