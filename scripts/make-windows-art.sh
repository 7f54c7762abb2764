#!/usr/bin/env bash
# Draws the Windows program's default header image and its icon with ImageMagick.
# The results are committed (Windows/Header.png, Windows/MidiUpdater.ico); run this only
# to change them.
set -euo pipefail
cd "$(dirname "$0")/../Windows"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A five-pin MIDI socket of `size` pixels on a transparent square, in colour $2.
socket() {
  local size=$1 colour=$2 out=$3
  local c=$((size / 2)) r=$((size * 44 / 100)) ring=$((size * 6 / 100 + 1))
  local pin=$((size * 6 / 100 + 1)) pr=$((size * 27 / 100))
  local draw="circle $c,$c $((c + r)),$c"
  local args=(-size "${size}x${size}" xc:none -fill none -stroke "$colour" -strokewidth "$ring"
    -draw "$draw" -stroke none -fill "$colour")
  # Pins on a half circle below the centre's line, as on the socket's face.
  for angle in 180 225 270 315 0; do
    local x y
    x=$(awk -v c="$c" -v r="$pr" -v a="$angle" 'BEGIN { printf "%d", c + r * cos(a * 3.14159265 / 180) }')
    y=$(awk -v c="$c" -v r="$pr" -v a="$angle" 'BEGIN { printf "%d", c - r * sin(a * 3.14159265 / 180) + r * 0.15 }')
    [ "$angle" = 180 ] || [ "$angle" = 0 ] && y=$((c + pr * 15 / 100))
    args+=(-draw "circle $x,$y $((x + pin)),$y")
  done
  # The key notch at the top.
  args+=(-draw "rectangle $((c - pin)),$((c - r - ring)) $((c + pin)),$((c - r + ring * 2))")
  convert "${args[@]}" "$out"
}

# Header: 520 x 110, deep blue to teal, the socket and the program's name.
socket 84 '#e8f4f8' "$work/socket.png"
convert -size 110x520 gradient:'#0b2a4a-#13707a' -rotate 90 \
  \( -size 520x2 xc:'#5fd3c6' \) -gravity south -composite \
  "$work/socket.png" -gravity west -geometry +22+0 -composite \
  -font DejaVu-Sans-Bold -pointsize 30 -fill '#ffffff' -gravity northwest \
  -annotate +124+26 'MIDI Updater' \
  -font DejaVu-Sans -pointsize 14 -fill '#b9dde6' \
  -annotate +126+68 'New firmware for your MIDI device, sent with care.' \
  -strip -depth 8 -define png:color-type=2 Header.png

# Icon: the socket on a rounded teal tile, six sizes.
for size in 256 128 64 48 32 16; do
  radius=$((size / 5))
  socket $((size * 3 / 4)) '#ffffff' "$work/s$size.png"
  convert -size "${size}x${size}" gradient:'#1b8a94-#0b2a4a' \
    \( -size "${size}x${size}" xc:black -fill white \
       -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $radius,$radius" \) \
    -alpha off -compose copy_opacity -composite -compose over \
    "$work/s$size.png" -gravity center -composite "PNG32:$work/i$size.png"
done
convert "$work/i16.png" "$work/i32.png" "$work/i48.png" "$work/i64.png" "$work/i128.png" \
  "$work/i256.png" MidiUpdater.ico
