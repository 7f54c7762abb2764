#!/usr/bin/env bash
# Inside the kernel (tests/uml/run.sh): a USB MIDI interface on the real host driver
# (snd-usb-audio), emulated by a configfs MIDI gadget on the software USB controller.
# `send` to its hardware port must hand every byte to the driver: the kernel's count of
# bytes sent equals the update's (plus the identity request) and nothing overran.
#   usb-midi-hardware-port.sh MIDI_UPDATER_CLI
set -euo pipefail
cli=${1:?usage: usb-midi-hardware-port.sh MIDI_UPDATER_CLI}
work=$(mktemp -d)

# shellcheck source=tests/uml/gadget.sh
source "$(dirname "$0")/gadget.sh"
gadget_make updater 0x0104 "MIDI Gadget" midi.usb0
gadget_bind updater "MIDI Gadget"
host_card=$(awk '/USB-Audio - MIDI Gadget/ {print $1}' /proc/asound/cards)
gadget_card=$(awk '/MIDI Gadget - f_midi/ {print $1}' /proc/asound/cards)
[ -n "$host_card" ] && [ -n "$gadget_card" ] || { echo "no USB MIDI card"; cat /proc/asound/cards; exit 1; }

# 256 messages of 512 bytes, shaped like a real firmware update, unpaced.
perl -e 'for $n (0 .. 255) { print "\xf0", (map { chr(($n * 31 + $_ * 7) & 0x7f) } 0 .. 509), "\xf7" }' \
  >"$work/fw.syx"
size=$(stat -c %s "$work/fw.syx")
"$cli" pack -o "$work/fw.upd" --product "Widget" --version 1.05 --mac-ports "MIDI Gadget MIDI 1" \
  --windows-params 'win:1:name:Widget:ideal:512:max:1024:delay:0' --portion "$work/fw.syx" >/dev/null

# The gadget's side read at full speed, so its function has somewhere to put the bytes.
amidi -p "hw:$gadget_card,0" -r "$work/got.bin" -t 30 &
reader=$!
sleep 1
status=0
"$cli" send "$work/fw.upd" --midi alsa --quiet --log "$work/send.log" >"$work/send.out" 2>&1 ||
  status=$?
kill "$reader" 2>/dev/null || true
wait "$reader" 2>/dev/null || true

failed=0
sent=$(awk '/Tx bytes/ {print $4; exit}' "/proc/asound/card$host_card/midi0")
echo "send: exit $status, $(tail -n 1 "$work/send.out")"
echo "driver sent $sent bytes of $size + 6; the gadget's reader got $(stat -c %s "$work/got.bin")"
# No device answers: sent, but not confirmed.
[ "$status" -eq 3 ] || { echo "FAILED: send exit $status, not 3"; failed=1; }
[ "$sent" = $((size + 6)) ] || { echo "FAILED: the driver did not get every byte"; failed=1; }
grep -q "writing to hw:$host_card,0,0 raw" "$work/send.log" ||
  { echo "FAILED: not written raw"; failed=1; }
no_overruns || failed=1
rm -rf "$work"
exit "$failed"
