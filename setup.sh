#!/usr/bin/env bash
# Installs what the build needs, builds the release programs and shows the console
# program at work: packs an example update from generated SysEx files and describes it.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j2

cli=build/release/Console/midi-updater-cli
out=examples/generated
mkdir -p "$out"

echo
echo "=== Example SysEx portions ($out) ==="
examples/make-example-sysex.sh "$out/part1.syx" 1 24
examples/make-example-sysex.sh "$out/part2.syx" 2 48
examples/make-example-sysex.sh "$out/part3.syx" 3 8
ls -l "$out"/*.syx

echo
echo "=== $cli pack ==="
"$cli" pack -o "$out/Example.upd" \
  --product "Example Synth" --version 1.05 \
  --message $'Firmware 1.05 for the Example Synth.\nKeep the device powered until the update has finished.' \
  --mac-ports 'Example Synth$Example Synth Port 1' \
  --windows-params 'win:1:name:Example Synth:ideal:512:max:1024:delay:100' \
  --portion "$out/part1.syx@2000" \
  --portion "$out/part2.syx@500" \
  --portion "$out/part3.syx"

echo
echo "=== $cli info ==="
"$cli" info "$out/Example.upd"

echo
echo "=== $cli info --json ==="
"$cli" info --json "$out/Example.upd"
