#!/usr/bin/env bash
# Installs what the build needs, builds the release programs and runs the main job: packs
# an example update from generated files, describes it, and sends it to a simulated
# device in real time.
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
examples/make-example-sysex.sh "$out/part1.syx" 1 200
examples/make-example-sysex.sh "$out/part2.syx" 2 400
examples/make-example-sysex.sh "$out/part3.syx" 3 60
examples/make-example-image.sh "$out/header.png"
ls -l "$out"/*.syx "$out"/header.png

echo
echo "=== $cli pack ==="
"$cli" pack -o "$out/Example.upd" \
  --product "Example Synth" --version 1.05 \
  --message $'Firmware 1.05 for the Example Synth.\nKeep the device powered until the update has finished.' \
  --mac-ports 'Example Synth$Example Synth Port 1' \
  --windows-params 'win:1:name:Example Synth:ideal:512:max:1024:delay:100' \
  --image "$out/header.png" \
  --portion "$out/part1.syx@2000" \
  --portion "$out/part2.syx@500" \
  --portion "$out/part3.syx"

echo
echo "=== $cli info ==="
"$cli" info "$out/Example.upd"

echo
echo "=== $cli send --simulate ==="
# A device that takes the first portion at once, is busy installing the second for a
# couple of seconds, and then confirms the last; every pause is real.
"$cli" send --simulate --device-status accept,busy:4,accept "$out/Example.upd"
