#!/usr/bin/env bash
# Builds and runs every test: the unit and scenario tests plain, in the Windows
# program's form of the library, under ASan+UBSan and under TSan, then every fuzz target
# for a bounded time; the Windows build runs under Wine. Warnings are errors throughout.
set -euo pipefail
cd "$(dirname "$0")"

FUZZ_SECONDS=${FUZZ_SECONDS:-15}
passed=0
failed=0

run_preset() {
  local preset=$1
  echo "=== $preset ==="
  cmake --preset "$preset" -DMIDIUPDATER_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  local log
  log=$(mktemp)
  local status=0
  ctest --preset "$preset" -j2 2>&1 | tee "$log" || status=$?
  local line
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  [ "$status" -eq 0 ] || { echo "$preset: tests failed"; exit "$status"; }
}

run_preset default
run_preset windows-form
run_preset asan
run_preset tsan
run_preset gnustep
# Cross-built for Windows, run under Wine. ctest stops the build's Wine server when its
# tests end, pass or fail; stopping it again is harmless.
run_preset windows
scripts/wine-run.sh --stop build/windows

# The Mac program's bundles (built by the gnustep preset), end to end under Xvfb;
# screenshots and logs stay in build/gnustep/e2e.
run_mac_e2e() {
  echo "=== Mac program end to end ==="
  local log
  log=$(mktemp)
  local status=0
  timeout -k 10 600 tests/mac-app/e2e.sh build/gnustep/Application build/gnustep/e2e 2>&1 |
    tee "$log" || status=$?
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  fi
  [ "$status" -eq 0 ] || { echo "Mac program end to end: failed"; exit 1; }
}
run_mac_e2e

# Each fuzz target for a bounded time from its seeds; a crash counts as a failure.
fuzz_failed=0
for target in UpdateReaderFuzz PortTextsFuzz DeviceRepliesFuzz SysExCollectorFuzz DeviceOptionsFuzz; do
  echo "=== fuzz $target ($FUZZ_SECONDS s) ==="
  if MIDIUPDATER_WERROR=ON fuzz/run.sh "$target" "$FUZZ_SECONDS" | tail -n 8; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    fuzz_failed=1
  fi
done

echo "$passed passed, $failed failed"
[ "$fuzz_failed" -eq 0 ]
