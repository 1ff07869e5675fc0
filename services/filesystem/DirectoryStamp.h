#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quavelle {

// A directory and its modification and change times at one moment. Adding,
// removing or renaming an entry moves both times, so an equal stamp read later
// means the same entries, provided the times could not repeat: see SettledStamp.
struct DirectoryStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
  std::int64_t changedSeconds = 0;
  std::int64_t changedNanoseconds = 0;

  bool operator==(const DirectoryStamp&) const = default;
};

// The stamp, when comparing it later tells whether the entries changed: the
// file system keeps directory times itself (DirectoryTimesTrackEntries) and
// both times lie far enough before now, read before the stamp, that a later
// change cannot get the same time. A change gets the kernel's coarse clock, at
// most a tick behind now, cut to the file system's granularity: a tenth of a
// second covers the tick, and two seconds cover whole-second times, assumed
// when neither time has a fraction.
std::optional<DirectoryStamp> SettledStamp(const DirectoryStamp& stamp,
                                           std::int64_t fileSystemMagic, std::int64_t nowSeconds,
                                           std::int64_t nowNanoseconds);

// The stamp of the directory path names now (links followed), if it names one.
std::optional<DirectoryStamp> StampOfPath(const std::string& path);

}  // namespace quavelle
