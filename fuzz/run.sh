#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: fuzz/run.sh TARGET SECONDS [libFuzzer flags...]
# Builds the fuzz preset first. Starts from the checked-in seeds in fuzz/corpus/TARGET;
# what the run finds goes to FUZZ_CORPUS (default: a temporary folder, removed after),
# so the seeds stay small. A crash leaves its input in build/fuzz/artifacts/ and makes
# the script fail.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 TARGET SECONDS [libFuzzer flags...]" >&2; exit 2; }
target=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ -d "fuzz/corpus/$target" ] || { echo "no fuzz target $target (no fuzz/corpus/$target)" >&2; exit 2; }

cmake --preset fuzz ${MIDIUPDATER_WERROR:+-DMIDIUPDATER_WERROR=$MIDIUPDATER_WERROR} >/dev/null
cmake --build --preset fuzz --target "$target" >/dev/null

corpus=${FUZZ_CORPUS:-}
if [ -z "$corpus" ]; then
  corpus=$(mktemp -d)
  trap 'rm -rf "$corpus"' EXIT
fi
mkdir -p "$corpus" build/fuzz/artifacts
cp -n "fuzz/corpus/$target"/* "$corpus"/

# -rss_limit_mb: half the default; the largest input (the collector's, 300 KB of bytes
# fed one at a time) needs a fraction of it.
set +e
"build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 \
  -artifact_prefix="build/fuzz/artifacts/$target-" "$@" "$corpus" 2>&1 |
  grep -Ev '^#[0-9]+\s+(NEW|REDUCE|pulse)|^INFO: |^(MS|BINGO)|^"|dictionary'
status=${PIPESTATUS[0]}
set -e
exit "$status"
