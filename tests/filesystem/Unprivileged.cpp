#include "Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quavelle::testing {
namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCouldNotDrop = 255;

bool DropPrivileges() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
         ::geteuid() == kNobody;
}

}  // namespace

int RunUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (child == 0) {
    // _exit: the child must not run the parent's test framework teardown.
    ::_exit(DropPrivileges() ? body() : kCouldNotDrop);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == kCouldNotDrop) return -1;
  return WEXITSTATUS(status);
}

}  // namespace quavelle::testing
