#include "services/docserver/RoundTripFileSystems.h"

#include <sys/vfs.h>

namespace quavelle::docserver {
namespace {

bool IsRoundTripType(const struct statfs& st) {
  switch (static_cast<unsigned long>(st.f_type)) {
    case 0x65735546:  // FUSE
    case 0xFE534D42:  // SMB2
    case 0xFF534D42:  // CIFS
    case 0x517B:      // SMB
    case 0x6969:      // NFS
    case 0x00C36400:  // Ceph
    case 0x01021997:  // 9P
    case 0x5346414F:  // AFS
      return true;
    default:
      return false;
  }
}

}  // namespace

bool RoundTripsAt(int fd) {
  struct statfs st {};
  return ::fstatfs(fd, &st) == 0 && IsRoundTripType(st);
}

bool RoundTripsAt(const std::string& path) {
  struct statfs st {};
  return ::statfs(path.c_str(), &st) == 0 && IsRoundTripType(st);
}

}  // namespace quavelle::docserver
