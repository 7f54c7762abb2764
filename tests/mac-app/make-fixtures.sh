#!/usr/bin/env bash
# Writes the update files the Mac program's end-to-end check opens (committed; run again
# only to change them). Needs the console program: cmake --build --preset default.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
cli=${CLI:-$root/build/default/Console/midi-updater-cli}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$root/examples/make-example-sysex.sh" "$work/part1.syx" 1 200
"$root/examples/make-example-sysex.sh" "$work/part2.syx" 2 400
convert -size 96x480 gradient:'#5c1d3b'-'#b03f7f' -rotate 90 \
  -font DejaVu-Sans-Bold -pointsize 30 -fill white -annotate +24+50 'Example Synth' \
  -font DejaVu-Sans -pointsize 14 -fill '#f3d7e6' -annotate +25+74 'Firmware 1.05' \
  -strip "$work/header.png"

"$cli" pack -o "$here/Example.upd" --product "Example Synth" --version 1.05 \
  --message $'Firmware 1.05 for the Example Synth.\nKeep it powered until 100% are sent.' \
  --image "$work/header.png" \
  --mac-ports 'Example Synth$Example Synth Port 1' \
  --portion "$work/part1.syx@500" --portion "$work/part2.syx@500"
printf 'This is no update file.\n' >"$here/NotAnUpdate.upd"
"$root/examples/make-example-sysex.sh" "$here/Plain.syx" 3 20

# An update whose header image claims 20000 x 20000 pixels: a small JPEG whose frame
# header is changed to that size (JPEG headers carry no checksum), which a decoder would
# take gigabytes for.
convert -size 32x32 gradient:'#5c1d3b'-'#b03f7f' -strip "$work/huge.jpg"
frame=$(LC_ALL=C grep -obUaP '\xFF\xC0' "$work/huge.jpg" | head -n 1 | cut -d: -f1)
printf '\x4e\x20\x4e\x20' | dd of="$work/huge.jpg" bs=1 seek=$((frame + 5)) conv=notrunc status=none
"$cli" pack -o "$here/OversizedImage.upd" --product "Example Synth" --version 1.06 \
  --message 'Its header image is far too large.' --image "$work/huge.jpg" \
  --mac-ports 'Example Synth$Example Synth Port 1' --portion "$work/part1.syx@0"
