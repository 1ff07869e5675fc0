#include "services/filesystem/MountPointFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>

#include "services/PathText.h"
#include "services/UniqueFd.h"
#include "services/filesystem/ListingInodes.h"

namespace quavelle {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The table writes space, tab, newline and backslash in names as \ooo.
std::string Unescaped(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
        IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

struct Mount {
  std::string_view id;
  std::string_view parentId;
  std::string_view mountPoint;
  std::string_view type;
};

// Fields: id, parent id, device, root, mount point, options, optional fields
// ending with "-", then type, source and super-block options.
std::optional<Mount> ParseLine(std::string_view line) {
  const std::vector<std::string_view> fields = Fields(line);
  if (fields.size() < 7) return std::nullopt;
  const auto dash = std::find(fields.begin() + 6, fields.end(), "-");
  if (dash == fields.end() || dash + 1 == fields.end()) return std::nullopt;
  return Mount{fields[0], fields[1], fields[4], *(dash + 1)};
}

std::optional<std::string> ReadWhole(const char* path) {
  const UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
  }
  if (n < 0) return std::nullopt;
  return text;
}

// The mount points, unescaped, of the mounts whose parent mount is of a listed
// type, from the text of /proc/self/mountinfo.
std::vector<std::string> MountPointsOnListedTypes(std::string_view mountTable) {
  std::vector<Mount> mounts;
  std::map<std::string_view, std::string_view> typeOf;
  std::size_t start = 0;
  while (start < mountTable.size()) {
    const std::size_t end = std::min(mountTable.find('\n', start), mountTable.size());
    if (const std::optional<Mount> mount = ParseLine(mountTable.substr(start, end - start))) {
      mounts.push_back(*mount);
      typeOf[mount->id] = mount->type;
    }
    start = end + 1;
  }
  std::vector<std::string> points;
  for (const Mount& mount : mounts) {
    // A parent outside the table lies beyond this process's root: nothing here holds that point.
    const auto parent = typeOf.find(mount.parentId);
    if (parent != typeOf.end() && ListingInodeIsFileInode(parent->second)) {
      points.push_back(Unescaped(mount.mountPoint));
    }
  }
  return points;
}

}  // namespace

MountPointFolders MountPointFolders::Read() {
  MountPointFolders result;
  const std::optional<std::string> table = ReadWhole("/proc/self/mountinfo");
  if (!table) return result;
  result.known_ = true;
  for (const std::string& point : MountPointsOnListedTypes(*table)) {
    if (point.empty() || point.front() != '/' || point == "/") continue;
    struct stat st {};
    // Skipped when closed to this process: the walk cannot reach it by this path either,
    // only through another mount of the same folder, which then goes unnoticed.
    if (::stat(std::string(FolderOf(std::string_view(point))).c_str(), &st) == 0) {
      result.folders_.emplace_back(st.st_dev, st.st_ino);
    }
  }
  return result;
}

bool MountPointFolders::Holds(std::uint64_t device, std::uint64_t inode) const noexcept {
  return std::find(folders_.begin(), folders_.end(), std::make_pair(device, inode)) !=
         folders_.end();
}

}  // namespace quavelle
