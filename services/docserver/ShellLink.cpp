#include "services/docserver/ShellLink.h"

#include <array>
#include <cstring>
#include <utility>

#include "services/docserver/ItemIdList.h"
#include "services/docserver/ShortcutErrors.h"
#include "services/docserver/Windows1252.h"
#include "services/docserver/WindowsPath.h"

namespace quavelle::docserver {
namespace {

constexpr std::size_t kHeaderSize = 0x4C;
constexpr std::array<unsigned char, 16> kLinkClassId = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr std::uint32_t kHasIdList = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kFirstStringFlag = 0x4;  // then relative path, working folder, ...
constexpr std::uint32_t kIsUnicode = 0x80;

constexpr std::uint32_t kLocalPath = 0x1;    // VolumeID and LocalBasePath
constexpr std::uint32_t kNetworkPath = 0x2;  // CommonNetworkRelativeLink and suffix
constexpr std::uint32_t kValidDevice = 0x1;

constexpr std::uint32_t kEnvironmentBlock = 0xA0000001;
constexpr std::uint32_t kSpecialFolderBlock = 0xA0000005;
constexpr std::uint32_t kIconEnvironmentBlock = 0xA0000007;
constexpr std::uint32_t kKnownFolderBlock = 0xA000000B;
constexpr std::uint32_t kVistaIdListBlock = 0xA000000C;
constexpr std::size_t kEnvironmentBlockSize = 0x314;
constexpr std::size_t kEnvironmentUnits = 260;
constexpr std::size_t kAnsiBuffer = 8;
constexpr std::size_t kUnicodeBuffer = 8 + kEnvironmentUnits;

enum StringIndex { kName, kRelativePath, kWorkingDir, kArguments, kIconLocation };

std::uint32_t U16(std::string_view b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8);
}
std::uint32_t U32(std::string_view b, std::size_t at) {
  return U16(b, at) | (U16(b, at + 2) << 16);
}

void PutU16(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void PutU32(std::string& out, std::size_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, (value >> 16) & 0xFFFF);
}
void SetU32(std::string& out, std::size_t at, std::size_t value) {
  std::string four;
  PutU32(four, value);
  out.replace(at, 4, four);
}

std::u16string FromUtf16(std::string_view b) {
  std::u16string text(b.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(U16(b, 2 * i));
  return text;
}
std::string ToUtf16(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) PutU16(out, unit);
  return out;
}

// Reads inside one structure of the file; anything past its end is damage.
class Reader {
 public:
  Reader(std::string_view bytes, const std::u16string& document, std::u16string_view what)
      : bytes_(bytes), document_(document), what_(what) {}

  std::string_view bytes() const { return bytes_; }
  void Need(std::size_t at, std::size_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at) Fail(u"runs past its end");
  }
  std::uint32_t U16At(std::size_t at) const { return Need(at, 2), U16(bytes_, at); }
  std::uint32_t U32At(std::size_t at) const { return Need(at, 4), U32(bytes_, at); }
  std::string Ansi(std::size_t at) const {
    Need(at, 1);
    const std::size_t end = bytes_.find('\0', at);
    if (end == std::string_view::npos) Fail(u"has a string without an end");
    return std::string(bytes_.substr(at, end - at));
  }
  std::u16string Unicode(std::size_t at) const {
    std::u16string text;
    for (;; at += 2) {
      const char16_t unit = static_cast<char16_t>(U16At(at));
      if (unit == 0) return text;
      text.push_back(unit);
    }
  }
  [[noreturn]] void Fail(std::u16string_view problem) const {
    throw DamagedShortcut(document_, std::u16string(what_) + u" " + std::u16string(problem));
  }

 private:
  std::string_view bytes_;
  const std::u16string& document_;
  std::u16string_view what_;
};

// A fixed buffer's text, up to its first zero.
std::u16string AnsiBuffer(std::string_view block) {
  const std::string_view buffer = block.substr(kAnsiBuffer, kEnvironmentUnits);
  return DecodeWindows1252(buffer.substr(0, buffer.find('\0')));
}
std::u16string UnicodeBuffer(std::string_view block) {
  std::u16string text = FromUtf16(block.substr(kUnicodeBuffer, 2 * kEnvironmentUnits));
  return text.substr(0, text.find(u'\0'));
}

std::u16string Combine(const std::u16string& base, const std::u16string& suffix) {
  if (suffix.empty()) return base;
  if (!base.empty() && base.back() == u'\\') return base + suffix;
  return base + u'\\' + suffix;
}

std::u16string JoinNames(const std::vector<std::u16string>& names) {
  std::u16string joined;
  for (const auto& name : names) joined += (joined.empty() ? u"" : u"\\") + name;
  return joined;
}

ShellLink::LinkInfo ReadLinkInfo(std::string_view bytes, std::size_t at,
                                 const std::u16string& document) {
  ShellLink::LinkInfo info;
  Reader outer(bytes, document, u"its link information");
  const std::size_t size = outer.U32At(at);
  outer.Need(at, size);
  const Reader li(bytes.substr(at, size), document, u"its link information");
  info.piece = {at, size};
  info.headerSize = li.U32At(4);
  if (info.headerSize < 0x1C || info.headerSize > size) li.Fail(u"has a bad header size");
  info.flags = li.U32At(8);
  const std::size_t volumeOffset = li.U32At(12);
  const std::size_t baseOffset = li.U32At(16);
  const std::size_t networkOffset = li.U32At(20);
  const std::size_t suffixOffset = li.U32At(24);
  std::size_t baseOffsetUnicode = 0, suffixOffsetUnicode = 0;
  if (info.headerSize >= 0x24) {
    baseOffsetUnicode = li.U32At(28);
    suffixOffsetUnicode = li.U32At(32);
  }
  if (info.flags & kLocalPath) {
    const std::size_t volumeSize = li.U32At(volumeOffset);
    if (volumeSize < 0x10) li.Fail(u"has a bad volume size");
    li.Need(volumeOffset, volumeSize);
    info.volumeId = std::string(li.bytes().substr(volumeOffset, volumeSize));
    info.localBasePath = li.Ansi(baseOffset);
    if (baseOffsetUnicode != 0) info.localBasePathUnicode = li.Unicode(baseOffsetUnicode);
  }
  if (info.flags & kNetworkPath) {
    const std::size_t linkSize = li.U32At(networkOffset);
    if (linkSize < 0x14) li.Fail(u"has a bad network link size");
    li.Need(networkOffset, linkSize);
    const Reader net(li.bytes().substr(networkOffset, linkSize), document, u"its network link");
    ShellLink::NetworkLink link;
    link.flags = net.U32At(4);
    const std::size_t nameOffset = net.U32At(8);
    const std::size_t deviceOffset = net.U32At(12);
    link.providerType = net.U32At(16);
    link.unicode = nameOffset > 0x14;
    link.netName = net.Ansi(nameOffset);
    if (link.flags & kValidDevice) link.deviceName = net.Ansi(deviceOffset);
    if (link.unicode) {
      link.netNameUnicode = net.Unicode(net.U32At(20));
      if (link.flags & kValidDevice) link.deviceNameUnicode = net.Unicode(net.U32At(24));
    }
    info.network = std::move(link);
  }
  if (suffixOffset != 0) info.commonPathSuffix = li.Ansi(suffixOffset);
  if (suffixOffsetUnicode != 0) info.commonPathSuffixUnicode = li.Unicode(suffixOffsetUnicode);
  return info;
}

std::optional<std::u16string> LinkInfoTarget(const ShellLink::LinkInfo& info) {
  const std::u16string suffix =
      info.commonPathSuffixUnicode.value_or(DecodeWindows1252(info.commonPathSuffix));
  std::u16string path;
  if (info.flags & kLocalPath) {
    path =
        Combine(info.localBasePathUnicode.value_or(DecodeWindows1252(info.localBasePath)), suffix);
  } else if (info.network) {
    path = Combine(info.network->unicode ? info.network->netNameUnicode
                                         : DecodeWindows1252(info.network->netName),
                   suffix);
  }
  if (path.empty()) return std::nullopt;
  return path;
}

void AlignTwo(std::string& out) {
  if (out.size() % 2 != 0) out.push_back('\0');
}

std::string WriteNetworkLink(const ShellLink::NetworkLink& link) {
  const bool device = (link.flags & kValidDevice) != 0;
  std::string out(link.unicode ? 0x1C : 0x14, '\0');
  SetU32(out, 4, link.flags);
  SetU32(out, 8, out.size());
  out += link.netName + '\0';
  if (device) {
    SetU32(out, 12, out.size());
    out += link.deviceName + '\0';
  }
  SetU32(out, 16, link.providerType);
  if (link.unicode) {
    AlignTwo(out);
    SetU32(out, 20, out.size());
    out += ToUtf16(link.netNameUnicode) + std::string(2, '\0');
    if (device) {
      SetU32(out, 24, out.size());
      out += ToUtf16(link.deviceNameUnicode) + std::string(2, '\0');
    }
  }
  SetU32(out, 0, out.size());
  return out;
}

std::string WriteLinkInfo(const ShellLink::LinkInfo& info) {
  std::string out(info.headerSize, '\0');
  SetU32(out, 4, info.headerSize);
  SetU32(out, 8, info.flags);
  if (info.flags & kLocalPath) {
    SetU32(out, 12, out.size());
    out += info.volumeId;
    SetU32(out, 16, out.size());
    out += info.localBasePath + '\0';
  }
  if (info.network) {
    SetU32(out, 20, out.size());
    out += WriteNetworkLink(*info.network);
  }
  SetU32(out, 24, out.size());
  out += info.commonPathSuffix + '\0';
  if (info.localBasePathUnicode) {
    AlignTwo(out);
    SetU32(out, 28, out.size());
    out += ToUtf16(*info.localBasePathUnicode) + std::string(2, '\0');
  }
  if (info.commonPathSuffixUnicode) {
    AlignTwo(out);
    SetU32(out, 32, out.size());
    out += ToUtf16(*info.commonPathSuffixUnicode) + std::string(2, '\0');
  }
  SetU32(out, 0, out.size());
  return out;
}

std::string Ansi(const std::u16string& text, std::u16string_view where,
                 const std::u16string& document) {
  auto bytes = EncodeWindows1252(text);
  if (!bytes) {
    throw UnwritableTarget(document, u"'" + text + u"' has characters that the 8-bit " +
                                         std::u16string(where) +
                                         u" cannot hold (Windows-1252 code page)");
  }
  return *bytes;
}

// The re-pointing of one shortcut: the old and new target and what moves.
struct Move {
  WindowsPath oldPath, newPath;
  PrefixMove prefix;
  std::u16string newText;
  const std::u16string& document;
};

ShellLink::LinkInfo MovedLinkInfo(ShellLink::LinkInfo info, const Move& move) {
  if (info.headerSize != 0x1C && info.headerSize != 0x24) {
    throw UnwritableTarget(move.document, u"its link information has a header of unknown size");
  }
  const std::u16string suffix =
      info.commonPathSuffixUnicode.value_or(DecodeWindows1252(info.commonPathSuffix));
  std::u16string base, newSuffix = suffix;
  const bool local = (info.flags & kLocalPath) != 0;
  if (local) {
    base = info.localBasePathUnicode.value_or(DecodeWindows1252(info.localBasePath));
  } else {
    base = info.network->unicode ? info.network->netNameUnicode
                                 : DecodeWindows1252(info.network->netName);
  }
  // Keep the split between base and suffix where the moved base still gives
  // the new path; otherwise store the new path in its plain form.
  auto moved = ApplyMove(move.prefix, base);
  const auto movedBase = moved ? SplitWindowsPath(*moved) : std::nullopt;
  const bool baseFits = movedBase && (local || movedBase->names.empty());
  if (baseFits && Combine(*moved, suffix) == move.newText) {
    base = *moved;
  } else if (local) {
    base = move.newText;
    newSuffix.clear();
  } else {
    base = move.newPath.root;
    newSuffix = JoinNames(move.newPath.names);
  }
  if (local) {
    info.localBasePath = Ansi(base, u"local path", move.document);
    if (info.localBasePathUnicode) info.localBasePathUnicode = base;
  } else {
    info.network->netName = Ansi(base, u"network name", move.document);
    if (info.network->unicode) info.network->netNameUnicode = base;
  }
  info.commonPathSuffix = Ansi(newSuffix, u"path suffix", move.document);
  if (info.commonPathSuffixUnicode) info.commonPathSuffixUnicode = newSuffix;
  return info;
}

// An environment block's two buffers moved; nullopt keeps the block as it is.
std::optional<std::string> MovedEnvironment(std::string_view block, bool isTarget,
                                            const Move& move) {
  std::string out(block);
  bool changed = false;
  const std::u16string texts[2] = {AnsiBuffer(block), UnicodeBuffer(block)};
  for (int unicode = 0; unicode < 2; ++unicode) {
    const std::u16string& text = texts[unicode];
    if (text.empty()) continue;
    auto moved = ApplyMove(move.prefix, text);
    if (!moved) {
      if (!isTarget) continue;
      throw UnwritableTarget(move.document, u"its environment block names the target as '" + text +
                                                u"', which does not start with '" +
                                                move.prefix.from + u"'");
    }
    if (*moved == text) continue;
    if (moved->size() >= kEnvironmentUnits) {
      throw TargetDoesNotFit(move.document, u"'" + *moved +
                                                u"' is longer than the 259 characters of the "
                                                u"environment block");
    }
    std::string buffer =
        unicode ? ToUtf16(*moved) : Ansi(*moved, u"environment block", move.document);
    const std::size_t at = unicode ? kUnicodeBuffer : kAnsiBuffer;
    const std::size_t room = unicode ? 2 * kEnvironmentUnits : kEnvironmentUnits;
    buffer.resize(room, '\0');
    out.replace(at, room, buffer);
    changed = true;
  }
  if (!changed) return std::nullopt;
  return out;
}

}  // namespace

ShellLink ShellLink::Parse(std::string bytes, const std::u16string& document) {
  ShellLink link;
  link.document_ = document;
  link.bytes_ = std::move(bytes);
  const std::string_view b = link.bytes_;
  const Reader file(b, document, u"its header");
  file.Need(0, kHeaderSize);
  if (U32(b, 0) != kHeaderSize ||
      std::memcmp(b.data() + 4, kLinkClassId.data(), kLinkClassId.size()) != 0) {
    throw DamagedShortcut(document, u"it does not start with a shortcut header");
  }
  link.flags_ = U32(b, 20);
  std::size_t at = kHeaderSize;
  if (link.flags_ & kHasIdList) {
    const Reader list(b, document, u"its item list");
    const std::size_t size = list.U16At(at);
    list.Need(at + 2, size);
    link.idList_ = Piece{at + 2, size};
    if (!ReadItemList(b.substr(at + 2, size))) list.Fail(u"has an item past its end");
    at += 2 + size;
  }
  if (link.flags_ & kHasLinkInfo) {
    link.linkInfo_ = ReadLinkInfo(b, at, document);
    at += link.linkInfo_->piece.size;
  }
  const bool unicode = (link.flags_ & kIsUnicode) != 0;
  for (int i = 0; i < 5; ++i) {
    if (!(link.flags_ & (kFirstStringFlag << i))) continue;
    const Reader strings(b, document, u"its string data");
    const std::size_t count = strings.U16At(at);
    const std::size_t size = count * (unicode ? 2 : 1);
    strings.Need(at + 2, size);
    const std::string_view chars = b.substr(at + 2, size);
    link.strings_[i] = {
        true, {at, 2 + size}, unicode ? FromUtf16(chars) : DecodeWindows1252(chars)};
    at += 2 + size;
  }
  const Reader blocks(b, document, u"its extra data");
  while (at + 4 <= b.size()) {
    const std::size_t size = U32(b, at);
    if (size < 4) break;  // the terminal block
    if (size < 8) blocks.Fail(u"has a block too small for its signature");
    blocks.Need(at, size);
    const std::uint32_t signature = U32(b, at + 4);
    const std::string_view block = b.substr(at, size);
    const bool environment = signature == kEnvironmentBlock || signature == kIconEnvironmentBlock;
    if ((environment && size < kEnvironmentBlockSize) ||
        (signature == kKnownFolderBlock && size < 0x1C) ||
        (signature == kSpecialFolderBlock && size < 0x10) ||
        (signature == kVistaIdListBlock && !ReadItemList(block.substr(8)))) {
      blocks.Fail(u"has a block shorter than its kind");
    }
    link.blocks_.push_back({{at, size}, signature});
    at += size;
  }
  link.blocksEnd_ = at;
  if (link.linkInfo_) link.target_ = LinkInfoTarget(*link.linkInfo_);
  return link;
}

ShellLinkFields ShellLink::Fields() const {
  ShellLinkFields fields;
  const std::string_view b = bytes_;
  if (idList_) {
    const auto layout = ReadItemList(b.substr(idList_->offset, idList_->size));
    fields.rootItems = layout->rootNames;
    if (layout->root) fields.fileItems = layout->starts.size() - 2 - *layout->root;
  }
  if (linkInfo_) {
    const LinkInfo& info = *linkInfo_;
    if (info.flags & kLocalPath) {
      fields.localBasePath = DecodeWindows1252(info.localBasePath);
      fields.localBasePathUnicode = info.localBasePathUnicode;
    }
    if (info.network) {
      fields.netName = DecodeWindows1252(info.network->netName);
      if (info.network->flags & kValidDevice) {
        fields.deviceName = DecodeWindows1252(info.network->deviceName);
      }
      if (info.network->unicode) {
        fields.netNameUnicode = info.network->netNameUnicode;
        if (info.network->flags & kValidDevice) {
          fields.deviceNameUnicode = info.network->deviceNameUnicode;
        }
      }
    }
    fields.commonPathSuffix = DecodeWindows1252(info.commonPathSuffix);
    fields.commonPathSuffixUnicode = info.commonPathSuffixUnicode;
  }
  std::optional<std::u16string>* strings[5] = {&fields.name, &fields.relativePath,
                                               &fields.workingDir, &fields.arguments,
                                               &fields.iconLocation};
  for (int i = 0; i < 5; ++i) {
    if (strings_[i].present) *strings[i] = strings_[i].text;
  }
  for (const Block& block : blocks_) {
    fields.blockSignatures.push_back(block.signature);
    const std::string_view data = b.substr(block.piece.offset, block.piece.size);
    if (block.signature == kEnvironmentBlock) {
      fields.environmentAnsi = AnsiBuffer(data);
      fields.environmentUnicode = UnicodeBuffer(data);
    } else if (block.signature == kIconEnvironmentBlock) {
      fields.iconEnvironmentAnsi = AnsiBuffer(data);
      fields.iconEnvironmentUnicode = UnicodeBuffer(data);
    } else if (block.signature == kVistaIdListBlock) {
      fields.vistaRootItems = ReadItemList(data.substr(8))->rootNames;
    }
  }
  return fields;
}

std::string ShellLink::Repointed(const std::u16string& newPath) const {
  if (!target_) throw UnwritableTarget(document_, u"the shortcut names no file path");
  if (newPath == *target_) return bytes_;
  auto oldPath = SplitWindowsPath(*target_);
  if (!oldPath) {
    throw UnwritableTarget(document_, u"its target '" + *target_ + u"' is no full path");
  }
  auto destination = SplitWindowsPath(newPath);
  if (!destination) {
    throw UnwritableTarget(document_, u"'" + newPath +
                                          u"' is no full drive path (C:\\...) or share path "
                                          u"(\\\\server\\share\\...)");
  }
  if (oldPath->kind != destination->kind) {
    throw UnwritableTarget(document_, oldPath->kind == WindowsPath::Kind::Drive
                                          ? u"a drive target cannot become a share path"
                                          : u"a share target cannot become a drive path");
  }
  if ((linkInfo_->flags & (kLocalPath | kNetworkPath)) == (kLocalPath | kNetworkPath)) {
    throw UnwritableTarget(document_, u"it keeps both a local and a network location");
  }
  const Move move{*oldPath, *destination, MoveBetween(*oldPath, *destination), newPath, document_};
  const std::string_view b = bytes_;

  std::string out(b.substr(0, kHeaderSize));
  ItemShift shift;
  if (idList_) {
    const std::string_view list = b.substr(idList_->offset, idList_->size);
    const std::string moved =
        MovedItemList(list, *ReadItemList(list), *oldPath, *destination, document_, shift);
    if (moved.size() > 0xFFFF) throw TargetDoesNotFit(document_, u"its item list grows too large");
    PutU16(out, moved.size());
    out += moved;
  }
  if (linkInfo_) {
    // Unchanged link information keeps its own layout.
    const std::string moved = WriteLinkInfo(MovedLinkInfo(*linkInfo_, move));
    out += moved == WriteLinkInfo(*linkInfo_)
               ? b.substr(linkInfo_->piece.offset, linkInfo_->piece.size)
               : std::string_view(moved);
  }

  const bool unicode = (flags_ & kIsUnicode) != 0;
  for (int i = 0; i < 5; ++i) {
    const StringDatum& datum = strings_[i];
    if (!datum.present) continue;
    std::optional<std::u16string> moved;
    if (i == kRelativePath || i == kWorkingDir || i == kIconLocation) {
      // Some writers count a terminating zero into the string; it stays.
      const std::size_t end = datum.text.find_last_not_of(u'\0') + 1;
      moved = ApplyMove(move.prefix, std::u16string_view(datum.text).substr(0, end));
      if (moved) *moved += datum.text.substr(end);
    }
    if (!moved || *moved == datum.text) {
      out += b.substr(datum.piece.offset, datum.piece.size);
      continue;
    }
    if (moved->size() > 0xFFFF) throw TargetDoesNotFit(document_, u"a string grows too large");
    PutU16(out, moved->size());
    out += unicode ? ToUtf16(*moved) : Ansi(*moved, u"string data", document_);
  }

  for (const Block& block : blocks_) {
    std::string data(b.substr(block.piece.offset, block.piece.size));
    if (block.signature == kEnvironmentBlock || block.signature == kIconEnvironmentBlock) {
      if (auto moved = MovedEnvironment(data, block.signature == kEnvironmentBlock, move)) {
        data = std::move(*moved);
      }
    } else if (block.signature == kVistaIdListBlock) {
      const std::string_view list = std::string_view(data).substr(8);
      ItemShift ignored;
      std::string moved = data.substr(0, 8) + MovedItemList(list, *ReadItemList(list), *oldPath,
                                                            *destination, document_, ignored);
      SetU32(moved, 0, moved.size());
      data = std::move(moved);
    } else if (idList_ &&
               (block.signature == kKnownFolderBlock || block.signature == kSpecialFolderBlock)) {
      // Where the folder's items end in the item list, which may have moved.
      const std::size_t at = block.signature == kKnownFolderBlock ? 24 : 12;
      const auto mapped = shift.Map(U32(data, at));
      if (!mapped) {
        throw UnwritableTarget(document_,
                               u"a folder block points into the part of the item list that moves");
      }
      SetU32(data, at, *mapped);
    }
    out += data;
  }
  out += b.substr(blocksEnd_);

  // What was written must read back as the new path.
  const ShellLink check = Parse(out, document_);
  if (check.target_ != newPath) {
    throw UnwritableTarget(document_, u"it would read back as '" + check.target_.value_or(u"") +
                                          u"' instead of '" + newPath + u"'");
  }
  return out;
}

}  // namespace quavelle::docserver
