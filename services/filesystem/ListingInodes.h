#pragma once

#include <cstdint>
#include <string_view>

namespace quavelle {

// True for the file systems on which the inode number a directory listing gives
// for a regular file is the st_ino that stat reports for it. Unlisted ones
// (overlays, network and user-space file systems among them) may number
// entries otherwise, so their files are looked up instead.
bool ListingInodeIsFileInode(std::int64_t fileSystemMagic) noexcept;
// The same, by the type name the mount table gives ("ext4", "xfs").
bool ListingInodeIsFileInode(std::string_view fileSystemName) noexcept;

// True for the file systems that keep directory times themselves, moving a
// directory's modification and change times with each entry added, removed or
// renamed; not those whose times come from a server or a user-space process.
bool DirectoryTimesTrackEntries(std::int64_t fileSystemMagic) noexcept;

}  // namespace quavelle
