#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time on a copy of its
# seed corpus. Any crash, leak, timeout or out-of-memory fails the script.
# FUZZ_SECONDS sets the time per target (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

seconds="${FUZZ_SECONDS:-30}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

for target in docserver linktarget ziprewriter pdf shortcut legacy; do
  fuzzer="$root/build/fuzz/fuzz/${target}_fuzzer"
  # Inputs that once failed are run first, each once, so a fault found by
  # chance fails every run until it is mended.
  regressions=(fuzz/regressions/"$target"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $target: ${#regressions[@]} past findings"
    (cd "$work" && "$fuzzer" "${regressions[@]/#/$root/}") ||
      { echo "fuzz: $target fails on a past finding" >&2; exit 1; }
  fi
  echo "== fuzzing $target for ${seconds}s"
  mkdir -p "$work/$target"
  cp fuzz/corpus/"$target"/* "$work/$target/"
  # Findings (crash-*, leak-*, timeout-*, oom-*) go to the work folder and are
  # printed; libFuzzer's exit status already says whether there were any.
  # libFuzzer reports every new input; keep that in a log, shown on failure.
  log="$work/$target.log"
  if ! (cd "$work" && "$fuzzer" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 "$work/$target") >"$log" 2>&1; then
    tail -n 80 "$log"
    for finding in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
      [ -e "$finding" ] || continue
      echo "-- $finding (base64):"
      base64 "$finding"
    done
    echo "fuzz: $target failed" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
done
echo "fuzz: no findings"
