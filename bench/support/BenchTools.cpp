#include "bench/support/BenchTools.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

extern char** environ;

namespace quavelle::bench {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Best(int trials, const std::function<double()>& once) {
  double best = once();
  for (int i = 1; i < trials; ++i) best = std::min(best, once());
  return best;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

ChildRun Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + args[0]);
  ChildRun result;
  rusage usage{};
  if (wait4(pid, &result.status, 0, &usage) < 0) throw std::runtime_error("wait4 failed");
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.peakKb = usage.ru_maxrss;
  if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0)
    throw std::runtime_error(args[0] + " failed, status " + std::to_string(result.status));
  return result;
}

}  // namespace quavelle::bench
