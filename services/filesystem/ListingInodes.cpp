#include "services/filesystem/ListingInodes.h"

#include <algorithm>
#include <iterator>

namespace quavelle {
namespace {

struct KnownFileSystem {
  std::string_view name;
  std::int64_t magic;
};

// Local file systems kept by the kernel itself. Magic numbers as fstatfs
// reports them in f_type.
constexpr KnownFileSystem kKnownLocalFileSystems[] = {
    {"ext2", 0xEF53},      {"ext3", 0xEF53},      {"ext4", 0xEF53},     {"xfs", 0x58465342},
    {"btrfs", 0x9123683E}, {"tmpfs", 0x01021994}, {"f2fs", 0xF2F52010},
};

}  // namespace

bool ListingInodeIsFileInode(std::int64_t fileSystemMagic) noexcept {
  return std::any_of(std::begin(kKnownLocalFileSystems), std::end(kKnownLocalFileSystems),
                     [&](const KnownFileSystem& known) { return known.magic == fileSystemMagic; });
}

bool ListingInodeIsFileInode(std::string_view fileSystemName) noexcept {
  return std::any_of(std::begin(kKnownLocalFileSystems), std::end(kKnownLocalFileSystems),
                     [&](const KnownFileSystem& known) { return known.name == fileSystemName; });
}

bool DirectoryTimesTrackEntries(std::int64_t fileSystemMagic) noexcept {
  // The same local file systems: both properties hold for each of them.
  return ListingInodeIsFileInode(fileSystemMagic);
}

}  // namespace quavelle
