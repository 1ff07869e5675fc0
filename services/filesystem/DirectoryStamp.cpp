#include "services/filesystem/DirectoryStamp.h"

#include <sys/stat.h>

#include <utility>

#include "services/filesystem/ListingInodes.h"

namespace quavelle {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// A time as (seconds, nanoseconds), compared in that order: directory times
// are whatever their owner set, so they are never multiplied out.
using Instant = std::pair<std::int64_t, std::int64_t>;

Instant Before(Instant now, std::int64_t nanoseconds) {
  Instant earlier{now.first - nanoseconds / kNanosecondsPerSecond,
                  now.second - nanoseconds % kNanosecondsPerSecond};
  if (earlier.second < 0) {
    earlier.second += kNanosecondsPerSecond;
    --earlier.first;
  }
  return earlier;
}

}  // namespace

std::optional<DirectoryStamp> SettledStamp(const DirectoryStamp& stamp,
                                           std::int64_t fileSystemMagic, std::int64_t nowSeconds,
                                           std::int64_t nowNanoseconds) {
  if (!DirectoryTimesTrackEntries(fileSystemMagic)) return std::nullopt;
  const bool wholeSeconds = stamp.modifiedNanoseconds == 0 && stamp.changedNanoseconds == 0;
  const Instant latest =
      Before({nowSeconds, nowNanoseconds},
             wholeSeconds ? 2 * kNanosecondsPerSecond : kNanosecondsPerSecond / 10);
  if (Instant{stamp.modifiedSeconds, stamp.modifiedNanoseconds} >= latest) return std::nullopt;
  if (Instant{stamp.changedSeconds, stamp.changedNanoseconds} >= latest) return std::nullopt;
  return stamp;
}

std::optional<DirectoryStamp> StampOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return DirectoryStamp{st.st_dev,          st.st_ino,         st.st_mtim.tv_sec,
                        st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

}  // namespace quavelle
