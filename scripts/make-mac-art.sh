#!/usr/bin/env bash
# Draws the Mac program's header image, icon and stop-alert image (ImageMagick).
# The results are committed; run again only to change them.
set -euo pipefail
out=${1:-"$(dirname "$0")/../Application/Resources"}
mkdir -p "$out"
font=DejaVu-Sans-Bold

# Header: 480x96, the window's width; a socket-like ring beside the program's name.
convert -size 96x480 gradient:'#1d3b5c'-'#3f7fb0' -rotate 90 \
  -fill none -stroke '#e8f1f8' -strokewidth 4 -draw 'circle 48,48 48,16' \
  -stroke none -fill '#e8f1f8' \
  -draw 'circle 30,52 30,47' -draw 'circle 66,52 66,47' -draw 'circle 36,34 36,29' \
  -draw 'circle 60,34 60,29' -draw 'circle 48,28 48,23' \
  -font "$font" -pointsize 30 -fill white -annotate +100+50 'MIDI Updater' \
  -font DejaVu-Sans -pointsize 14 -fill '#cfe0ee' -annotate +101+74 'Firmware for your instrument' \
  -strip "$out/Header.png"

# Icon: a rounded tile with the same ring and an upward arrow, 256 and 128 pixels.
convert -size 256x256 xc:none \
  -fill '#2b5f8a' -draw 'roundrectangle 8,8 247,247 48,48' \
  -fill none -stroke white -strokewidth 14 -draw 'circle 128,140 128,60' \
  -stroke none -fill white \
  -draw 'circle 84,150 84,138' -draw 'circle 172,150 172,138' -draw 'circle 96,106 96,94' \
  -draw 'circle 160,106 160,94' \
  -fill '#ffc83d' -draw 'polygon 128,84 160,124 140,124 140,190 116,190 116,124 96,124' \
  -strip "$out/AppIcon.png"
convert "$out/AppIcon.png" -resize 128x128 -strip "$out/AppIcon-128.png"

# Apple's icon container: "icns", total length, then typed PNG entries (ic07 128 px,
# ic08 256 px), lengths big-endian and counting their own 8-byte headers.
python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
entries = b""
for kind, name in ((b"ic07", "AppIcon-128.png"), (b"ic08", "AppIcon.png")):
    data = open(f"{out}/{name}", "rb").read()
    entries += kind + struct.pack(">I", len(data) + 8) + data
open(f"{out}/AppIcon.icns", "wb").write(b"icns" + struct.pack(">I", len(entries) + 8) + entries)
PY
rm "$out/AppIcon-128.png"

# Stop alert, for systems without one of their own: a red octagon with a white bar.
convert -size 64x64 xc:none -fill '#c62828' -stroke '#7f1010' -strokewidth 2 \
  -draw 'polygon 20,2 44,2 62,20 62,44 44,62 20,62 2,44 2,20' \
  -stroke none -fill white -draw 'roundrectangle 14,27 50,37 3,3' \
  -strip "$out/StopAlert.png"
