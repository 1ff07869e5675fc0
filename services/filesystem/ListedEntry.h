#pragma once

#include <cstdint>
#include <string>

namespace quavelle {

// The file a files listing handed out last on this thread, with the identity the
// listing already holds for it. The walk asks the guard about each file right
// after the listing hands it out; reusing what the listing read spares a second
// path lookup in the kernel for every file.
struct ListedEntry {
  const void* owner = nullptr;  // the listing that wrote it; nullptr when none has
  std::string path;             // native, as the listing joined it
  // True when device and inode were read by following the entry to its target;
  // otherwise they are the folder's device and the inode number the directory
  // records for the entry, which is the file's own only on some file systems.
  bool followed = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t folderInode = 0;
  std::int64_t fileSystemType = 0;  // of the folder; 0 when unknown
};

// This thread's record; listings write it, the guard only reads it.
ListedEntry& LastListedEntry() noexcept;

// The folder a subfolders listing handed out last on this thread (native), which
// the listing knew to be a folder by the type the directory records or by
// following a link. Opening that folder by its path right after need not ask
// the file system again what the path names: a round trip to the server on a
// network share.
std::string& LastListedFolder() noexcept;

}  // namespace quavelle
