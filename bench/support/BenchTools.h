#pragma once

#include <functional>
#include <string>
#include <vector>

// What every benchmark measures with: wall time, the best or median of
// several trials, and child processes timed with their own peak memory.
namespace quavelle::bench {

double Seconds(const std::function<void()>& work);
double Best(int trials, const std::function<double()>& once);
double Median(std::vector<double> values);

struct ChildRun {
  int status = 0;
  double seconds = 0;
  long peakKb = 0;  // the child's own peak resident set
};

// Runs args (args[0] looked up on the PATH) and waits for it; throws unless
// it exits with 0.
ChildRun Spawn(const std::vector<std::string>& args);

}  // namespace quavelle::bench
