#!/usr/bin/env bash
# Draws the Mac program's header image, icon and stop-alert image (ImageMagick), each also
# at twice the size for Retina displays ("@2x", which AppKit picks by itself; the icon
# container holds both). The results are committed; run again only to change them.
set -euo pipefail
out=${1:-"$(dirname "$0")/../Application/Resources"}
mkdir -p "$out"
font=DejaVu-Sans-Bold
depth() { [ "$1" -eq 1 ] || echo "-depth 8"; } # SCALE: the large ones in 8 bits a channel

# Header: 480x96 points, the window's width; a socket-like ring beside the program's name.
header() { # SCALE FILE
  local s=$1
  convert -size $((96 * s))x$((480 * s)) gradient:'#1d3b5c'-'#3f7fb0' -rotate 90 \
    -fill none -stroke '#e8f1f8' -strokewidth $((4 * s)) \
    -draw "circle $((48 * s)),$((48 * s)) $((48 * s)),$((16 * s))" \
    -stroke none -fill '#e8f1f8' \
    -draw "circle $((30 * s)),$((52 * s)) $((30 * s)),$((47 * s))" \
    -draw "circle $((66 * s)),$((52 * s)) $((66 * s)),$((47 * s))" \
    -draw "circle $((36 * s)),$((34 * s)) $((36 * s)),$((29 * s))" \
    -draw "circle $((60 * s)),$((34 * s)) $((60 * s)),$((29 * s))" \
    -draw "circle $((48 * s)),$((28 * s)) $((48 * s)),$((23 * s))" \
    -font "$font" -pointsize $((30 * s)) -fill white -annotate +$((100 * s))+$((50 * s)) 'MIDI Updater' \
    -font DejaVu-Sans -pointsize $((14 * s)) -fill '#cfe0ee' \
    -annotate +$((101 * s))+$((74 * s)) 'Firmware for your instrument' \
    $(depth "$s") -strip "$2"
}
header 1 "$out/Header.png"
header 2 "$out/Header@2x.png"

# Icon: a rounded tile with the same ring and an upward arrow, drawn on a 256-pixel grid.
icon() { # SCALE FILE
  local s=$1
  convert -size $((256 * s))x$((256 * s)) xc:none \
    -fill '#2b5f8a' -draw "roundrectangle $((8 * s)),$((8 * s)) $((247 * s)),$((247 * s)) $((48 * s)),$((48 * s))" \
    -fill none -stroke white -strokewidth $((14 * s)) \
    -draw "circle $((128 * s)),$((140 * s)) $((128 * s)),$((60 * s))" \
    -stroke none -fill white \
    -draw "circle $((84 * s)),$((150 * s)) $((84 * s)),$((138 * s))" \
    -draw "circle $((172 * s)),$((150 * s)) $((172 * s)),$((138 * s))" \
    -draw "circle $((96 * s)),$((106 * s)) $((96 * s)),$((94 * s))" \
    -draw "circle $((160 * s)),$((106 * s)) $((160 * s)),$((94 * s))" \
    -fill '#ffc83d' -draw "polygon $((128 * s)),$((84 * s)) $((160 * s)),$((124 * s)) $((140 * s)),$((124 * s)) \
$((140 * s)),$((190 * s)) $((116 * s)),$((190 * s)) $((116 * s)),$((124 * s)) $((96 * s)),$((124 * s))" \
    $(depth "$s") -strip "$2"
}
icon 1 "$out/AppIcon.png"
icon 4 "$out/AppIcon-1024.png"
convert "$out/AppIcon.png" -resize 128x128 -strip "$out/AppIcon-128.png"
convert "$out/AppIcon-1024.png" -resize 512x512 -depth 8 -strip "$out/AppIcon-512.png"

# Apple's icon container: "icns", total length, then typed PNG entries, lengths big-endian
# and counting their own 8-byte headers. ic07 128 px, ic08 256, ic09 512, and the Retina
# ones: ic13 128@2x (256 px), ic14 256@2x (512 px), ic10 512@2x (1024 px).
python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
entries = b""
for kind, name in ((b"ic07", "AppIcon-128.png"), (b"ic08", "AppIcon.png"), (b"ic09", "AppIcon-512.png"),
                   (b"ic13", "AppIcon.png"), (b"ic14", "AppIcon-512.png"), (b"ic10", "AppIcon-1024.png")):
    data = open(f"{out}/{name}", "rb").read()
    entries += kind + struct.pack(">I", len(data) + 8) + data
open(f"{out}/AppIcon.icns", "wb").write(b"icns" + struct.pack(">I", len(entries) + 8) + entries)
PY
rm "$out/AppIcon-128.png" "$out/AppIcon-512.png" "$out/AppIcon-1024.png"

# Stop alert, for systems without one of their own: a red octagon with a white bar.
stop_alert() { # SCALE FILE
  local s=$1
  convert -size $((64 * s))x$((64 * s)) xc:none -fill '#c62828' -stroke '#7f1010' -strokewidth $((2 * s)) \
    -draw "polygon $((20 * s)),$((2 * s)) $((44 * s)),$((2 * s)) $((62 * s)),$((20 * s)) $((62 * s)),$((44 * s)) \
$((44 * s)),$((62 * s)) $((20 * s)),$((62 * s)) $((2 * s)),$((44 * s)) $((2 * s)),$((20 * s))" \
    -stroke none -fill white -draw "roundrectangle $((14 * s)),$((27 * s)) $((50 * s)),$((37 * s)) $((3 * s)),$((3 * s))" \
    $(depth "$s") -strip "$2"
}
stop_alert 1 "$out/StopAlert.png"
stop_alert 2 "$out/StopAlert@2x.png"
