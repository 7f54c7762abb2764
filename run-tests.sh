#!/usr/bin/env bash
# Builds and runs every test: the unit and scenario tests plain, in the Windows
# program's form of the library, under ASan+UBSan and under TSan, then the update-file
# reader's fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")"

FUZZ_SECONDS=${FUZZ_SECONDS:-30}
passed=0
failed=0

run_preset() {
  local preset=$1
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
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

# The Debian package as packagers make it: a plain Release build folder, not a preset.
# (The JACK tests in the presets above start and stop private jackd servers themselves.)
echo "=== package ==="
package=build/package
cmake -S . -B "$package" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$package" -j2 --target midi-updater-cli man-page
rm -f "$package"/*.deb
(cd "$package" && cpack -G DEB >/dev/null)
deb=$(ls "$package"/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
contents=$(dpkg-deb -c "$deb")
if [[ $depends == *libasound2* && $depends == *libjack* &&
  $contents == *"/usr/bin/midi-updater-cli"* && $contents == *"/man1/midi-updater-cli.1.gz"* ]]; then
  echo "$deb: Depends: $depends"
  passed=$((passed + 1))
else
  echo "package: $deb lacks the program, its manual page or its dependencies"
  exit 1
fi

echo "=== fuzz ($FUZZ_SECONDS s) ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/ 2>/dev/null || true
./build/fuzz/fuzz/UpdateReaderFuzz -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
  "$corpus" 2>&1 | tail -n 12

echo "$passed passed, $failed failed"
