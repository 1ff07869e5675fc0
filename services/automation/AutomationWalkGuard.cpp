#include <windows.h>

#include <cstdint>
#include <optional>
#include <set>
#include <tuple>

#include "services/automation/AutomationServices.h"

namespace quavelle {
namespace {

// Volume serial number and file index: the same for every path that reaches a
// folder or file, whatever its spelling or the links on the way.
using Identity = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

class Handle {
 public:
  explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const noexcept { return handle_; }

 private:
  HANDLE handle_;
};

std::optional<Identity> IdentityOf(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  std::wstring wide(path.size(), L'\0');
  for (std::size_t i = 0; i < path.size(); ++i) wide[i] = static_cast<wchar_t>(path[i]);
  // Backup semantics let a folder be opened; without FILE_FLAG_OPEN_REPARSE_POINT
  // a link is followed to what it names.
  const Handle file(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return Identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

class VolumeFileWalkGuard final : public WalkGuard {
 public:
  bool FirstVisit(const std::u16string& path) override {
    const std::optional<Identity> identity = IdentityOf(path);
    if (!identity) return true;  // the service reports what cannot be reached
    return seen_.insert(*identity).second;
  }

 private:
  std::set<Identity> seen_;
};

}  // namespace

std::unique_ptr<WalkGuard> CreateAutomationWalkGuard() {
  return std::make_unique<VolumeFileWalkGuard>();
}

}  // namespace quavelle
