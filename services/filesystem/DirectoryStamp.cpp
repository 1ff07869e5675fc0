#include "services/filesystem/DirectoryStamp.h"

#include <sys/stat.h>

#include "services/filesystem/ListingInodes.h"

namespace quavelle {
namespace {

constexpr std::int64_t kSettledSeconds = 2;

}  // namespace

std::optional<DirectoryStamp> SettledStamp(const DirectoryStamp& stamp,
                                           std::int64_t fileSystemMagic, std::int64_t nowSeconds) {
  if (!DirectoryTimesTrackEntries(fileSystemMagic)) return std::nullopt;
  if (stamp.modifiedSeconds >= nowSeconds - kSettledSeconds) return std::nullopt;
  if (stamp.changedSeconds >= nowSeconds - kSettledSeconds) return std::nullopt;
  return stamp;
}

std::optional<DirectoryStamp> StampOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return DirectoryStamp{st.st_dev,          st.st_ino,         st.st_mtim.tv_sec,
                        st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

}  // namespace quavelle
