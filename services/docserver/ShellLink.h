#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A Windows shortcut (.lnk, the Shell Link binary format) read from and
// written to bytes. A shortcut holds one link, its target, stored in up to
// six places that a re-pointing moves together:
//   - the item list: the drive item, or the server and share items (the
//     folder and file items below them keep their names);
//   - the link information: LocalBasePath (8-bit and UTF-16), or the network
//     link's NetName with CommonPathSuffix (8-bit and UTF-16);
//   - the relative path, working folder and icon location strings, when they
//     start with the moved drive, server or share;
//   - the environment and icon environment blocks (fixed 260-unit buffers);
//   - the second item list kept for newer systems, when there is one.
// Every other byte stays as it was: the header, the name and arguments, the
// link tracking and property store blocks, unknown blocks. Link information
// that does not change keeps its own layout; changed link information is
// written in the documented order with its offsets and sizes recomputed.
//
// The target is read from the link information (UTF-16 where present); a
// shortcut without one (a special or known folder, an item that is no file)
// holds no link. A mapped drive (a network link with a drive letter, whose
// item list starts at that drive) reads as its share path; re-pointing it
// moves the network link and keeps the drive item and letter.
//
// Refused with 1009, nothing changed:
//   - a new path that is not a full drive or share path;
//   - drive -> share and share -> drive: the item list would need other root
//     items (computer and drive vs. network, server and share) that no
//     independent writer has been checked against;
//   - names below the drive or share that the item list cannot follow: it
//     keeps one item per folder, with that folder's own data, so a new path
//     may only drop leading folders (\\srv1\proj\dept\a.doc -> \\srv2\dept\a.doc),
//     never add or rename them; a mapped drive keeps all of them;
//   - an item list without a drive or share item, or with other items below it;
//   - link information with both a local and a network location;
//   - an environment block target that does not start with the moved part
//     (it holds variables such as %USERPROFILE%, which cannot be followed);
//   - a character that has no byte in the 8-bit code page (Windows-1252),
//     wherever an 8-bit copy is stored.
// Refused with 1013: a path that does not fit a fixed-size buffer (259
// characters in the environment blocks), or a string or item past 65535 units.
// Damaged files fail with 1003.
namespace quavelle::docserver {

// What each place of a shortcut says, for reading back.
struct ShellLinkFields {
  std::vector<std::u16string> rootItems;  // "C:\", "\\srv1", "\\srv1\proj" in list order
  std::size_t fileItems = 0;              // items below the last root item
  std::optional<std::u16string> localBasePath, localBasePathUnicode;
  std::optional<std::u16string> netName, netNameUnicode, deviceName, deviceNameUnicode;
  std::optional<std::u16string> commonPathSuffix, commonPathSuffixUnicode;
  std::optional<std::u16string> name, relativePath, workingDir, arguments, iconLocation;
  std::optional<std::u16string> environmentAnsi, environmentUnicode;
  std::optional<std::u16string> iconEnvironmentAnsi, iconEnvironmentUnicode;
  std::optional<std::vector<std::u16string>> vistaRootItems;
  std::vector<std::uint32_t> blockSignatures;  // every extra data block, in order
};

class ShellLink {
 public:
  // Throws 1003 naming document when bytes are no readable shortcut.
  static ShellLink Parse(std::string bytes, const std::u16string& document);

  const std::string& bytes() const { return bytes_; }
  // The target's full path; nullopt when the shortcut names none.
  const std::optional<std::u16string>& target() const { return target_; }
  ShellLinkFields Fields() const;

  // The whole file with its target moved to newPath; see above for what is
  // refused. The result is parsed again and must name newPath.
  std::string Repointed(const std::u16string& newPath) const;

  struct Piece {
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  struct StringDatum {
    bool present = false;
    Piece piece;  // count and characters
    std::u16string text;
  };
  struct NetworkLink {
    std::uint32_t flags = 0;
    std::uint32_t providerType = 0;
    bool unicode = false;
    std::string netName, deviceName;  // 8-bit
    std::u16string netNameUnicode, deviceNameUnicode;
  };
  struct LinkInfo {
    Piece piece;
    std::uint32_t headerSize = 0;
    std::uint32_t flags = 0;
    std::string volumeId;  // kept as it is
    std::string localBasePath;
    std::optional<std::u16string> localBasePathUnicode;
    std::optional<NetworkLink> network;
    std::string commonPathSuffix;
    std::optional<std::u16string> commonPathSuffixUnicode;
  };
  struct Block {
    Piece piece;
    std::uint32_t signature = 0;
  };

 private:
  ShellLink() = default;

  std::u16string document_;
  std::string bytes_;
  std::uint32_t flags_ = 0;
  std::optional<Piece> idList_;  // the items and their terminator, after the size field
  std::optional<LinkInfo> linkInfo_;
  StringDatum strings_[5];  // name, relative path, working folder, arguments, icon location
  std::vector<Block> blocks_;
  std::size_t blocksEnd_ = 0;
  std::optional<std::u16string> target_;
};

}  // namespace quavelle::docserver
