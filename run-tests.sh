#!/usr/bin/env bash
# Builds and runs every test: the unit and scenario tests plain, in the Windows
# program's form of the library, under ASan+UBSan and under TSan, then every fuzz target
# for a bounded time; the Windows build runs under Wine. Warnings are errors throughout.
# The default preset also builds a user-mode Linux kernel (once per build folder) and
# runs the tests labelled `uml` inside it, against the kernel's own ALSA sequencer.
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

# Runs a script of checks that ends with "N passed, M failed", adding its counts; stops
# the run when it fails.
run_checks() {
  local name=$1
  shift
  local log status=0 line
  log=$(mktemp)
  "$@" 2>&1 | tee "$log" || status=$?
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  fi
  [ "$status" -eq 0 ] || { echo "$name: checks failed"; exit "$status"; }
}

run_preset default
run_preset windows-form
run_preset asan
run_preset tsan
run_preset gnustep
# Apple builds Mac programs with clang, stricter than gobjc++ in places.
echo "=== clang: the Mac sources ==="
scripts/clang-check-mac.sh || { echo "the Mac sources do not compile cleanly with clang"; exit 1; }
passed=$((passed + 1))
# Cross-built for Windows, run under Wine. ctest stops the build's Wine server when its
# tests end, pass or fail; stopping it again is harmless.
run_preset windows
scripts/wine-run.sh --stop build/windows

# The Windows port on Wine's own winmm, whose ALSA driver carries the update over the
# real sequencer, inside the kernel the default preset built: a stage of its own, as it
# needs both the default build (the kernel, `device --alsa`) and this one (the program).
echo "=== windows port on Wine's winmm in the kernel ==="
run_checks "Wine's winmm in the kernel" tests/uml/wine-winmm.sh build/default build/windows

# The shipped Windows program (static, stripped, at most 3 MiB) and its test build, run
# end to end under Wine on a virtual display; screenshots in build/windows-release/e2e-screenshots.
echo "=== windows-release: the Windows program end to end ==="
cmake --preset windows-release -DMIDIUPDATER_WERROR=ON >/dev/null
cmake --build --preset windows-release --target midi-updater-win midi-updater-win-test
exe_size=$(stat -c %s build/windows-release/Windows/midi-updater-win.exe)
echo "midi-updater-win.exe: $exe_size bytes"
[ "$exe_size" -le $((3 * 1024 * 1024)) ] || { echo "midi-updater-win.exe is over 3 MiB"; exit 1; }
run_checks "windows end to end" \
  tests/windows-e2e.sh build/windows-release build/default/Console/midi-updater-cli

# What users download: the installer and the portable zip; the installer installs,
# opens an .upd file by its association and uninstalls under Wine; screenshots in
# build/windows-release/installer-screenshots.
echo "=== windows-release: installer and zip ==="
cmake --build --preset windows-release --target midi-updater-win-setup midi-updater-win-zip
ls -l build/windows-release/midi-updater-win-setup-*.exe build/windows-release/midi-updater-win-*.zip
run_checks "windows installer" \
  tests/windows-installer.sh build/windows-release build/default/Console/midi-updater-cli

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

# The Mac program's bundles (built by the gnustep preset), end to end under Xvfb;
# screenshots and logs stay in build/gnustep/e2e.
echo "=== Mac program end to end ==="
run_checks "Mac program end to end" \
  timeout -k 10 600 tests/mac-app/e2e.sh build/gnustep/Application build/gnustep/e2e

# The quits during an update again, under ASan and UBSan: the test build alone, in a
# build folder of its own (the sanitizers' reports go to each run's log, which must have
# none; leaks are not looked for, as a quit during an update leaves the job's on purpose).
echo "=== Mac program: quits during an update under ASan and UBSan ==="
asan_mac=build/gnustep-asan
cmake -S . -B "$asan_mac" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
  -DMIDIUPDATER_TESTS=OFF -DMIDIUPDATER_TOOLS=OFF -DMIDIUPDATER_GNUSTEP=ON \
  -DMIDIUPDATER_SANITIZE=address,undefined -DMIDIUPDATER_WERROR=ON >/dev/null
cmake --build "$asan_mac" -j2 --target midi-updater-mac-test
if ASAN_OPTIONS=detect_leaks=0 E2E_ONLY="quits during" timeout -k 10 300 \
  tests/mac-app/e2e.sh "$asan_mac/Application" "$asan_mac/e2e" &&
  ! grep -lE 'ERROR: AddressSanitizer|runtime error:' "$asan_mac"/e2e/*.log; then
  passed=$((passed + 1))
else
  echo "Mac program under ASan: a quit during an update failed"
  exit 1
fi

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
