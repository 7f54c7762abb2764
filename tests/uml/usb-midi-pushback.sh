#!/usr/bin/env bash
# Inside the kernel (tests/uml/run.sh): a USB MIDI interface that takes bytes only at
# the MIDI wire's 3125 bytes/s (PushingBackUsbMidi over FunctionFS), on the real host
# driver (snd-usb-audio). Every byte of an unpaced 128 KiB update of 512-byte messages
# must arrive, in order, followed by the identity request.
#   usb-midi-pushback.sh MIDI_UPDATER_CLI PUSHING_BACK_USB_MIDI
set -euo pipefail
cli=${1:?usage: usb-midi-pushback.sh MIDI_UPDATER_CLI PUSHING_BACK_USB_MIDI}
interface=${2:?}
work=$(mktemp -d)

gadget=/sys/kernel/config/usb_gadget/slow
mkdir "$gadget"
echo 0x1d6b >"$gadget/idVendor"
echo 0x0105 >"$gadget/idProduct"
mkdir -p "$gadget/strings/0x409" "$gadget/functions/ffs.midi" "$gadget/configs/c.1"
echo "Slow MIDI" >"$gadget/strings/0x409/product"
ln -s "$gadget/functions/ffs.midi" "$gadget/configs/c.1/"
mkdir -p /dev/ffs-midi
mount -t functionfs midi /dev/ffs-midi
"$interface" /dev/ffs-midi "$work/got.bin" >"$work/interface.out" 2>&1 &
interface_pid=$!
for _ in $(seq 100); do
  grep -q ready "$work/interface.out" && break
  sleep 0.1
done
ls /sys/class/udc | head -n 1 >"$gadget/UDC"
for _ in $(seq 100); do
  grep -q "USB-Audio - Slow MIDI" /proc/asound/cards && break
  sleep 0.1
done

perl -e 'for $n (0 .. 255) { print "\xf0", (map { chr(($n * 31 + $_ * 7) & 0x7f) } 0 .. 509), "\xf7" }' \
  >"$work/fw.syx"
"$cli" pack -o "$work/fw.upd" --product "Widget" --version 1.05 --mac-ports "Slow MIDI MIDI 1" \
  --windows-params 'win:1:name:Widget:ideal:512:max:1024:delay:0' --portion "$work/fw.syx" >/dev/null
printf '\xf0\x7e\x7f\x06\x01\xf7' >"$work/request.syx"
cat "$work/fw.syx" "$work/request.syx" >"$work/expected.bin"

start=$SECONDS
status=0
"$cli" send "$work/fw.upd" --midi alsa --quiet --log "$work/send.log" >"$work/send.out" 2>&1 ||
  status=$?
# The identity request is the last thing sent; it arrives within a second of its sending.
for _ in $(seq 50); do
  cmp -s "$work/expected.bin" "$work/got.bin" && break
  sleep 0.1
done
kill "$interface_pid"
echo "send: exit $status after $((SECONDS - start)) s, $(tail -n 1 "$work/send.out")"
echo "the interface got $(stat -c %s "$work/got.bin") of $(stat -c %s "$work/expected.bin") bytes"
failed=0
[ "$status" -eq 3 ] || { echo "FAILED: send exit $status, not 3 (no device answers)"; failed=1; }
cmp "$work/expected.bin" "$work/got.bin" || { echo "FAILED: the bytes differ"; failed=1; }
if dmesg | grep -q "MIDI output buffer overrun"; then
  echo "FAILED: the kernel dropped bytes"
  failed=1
fi
rm -rf "$work"
exit "$failed"
