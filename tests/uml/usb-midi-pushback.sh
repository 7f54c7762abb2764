#!/usr/bin/env bash
# Inside the kernel (tests/uml/run.sh): whole updates through the real host driver
# (snd-usb-audio) to a USB MIDI interface that takes bytes only at the MIDI wire's 3125
# bytes/s, with the simulated device answering behind it (PushingBackUsbMidi over
# FunctionFS). CASE is one of
#   example  the example update of setup.sh, the device busy on the second portion and
#            accepting each: updated
#   error    the same, with an error reply to the last portion: the device failed
#   unpaced  128 KiB of 512-byte messages, unpaced, the device silent but for its identity:
#            updated
# Every byte must arrive in order (by the device's record and by a copy taken as it came),
# and the kernel must drop none.
#   usb-midi-pushback.sh MIDI_UPDATER_CLI PUSHING_BACK_USB_MIDI CASE
set -euo pipefail
cli=${1:?usage: usb-midi-pushback.sh MIDI_UPDATER_CLI PUSHING_BACK_USB_MIDI CASE}
interface=${2:?}
case=${3:?}
here=$(dirname "$0")
# shellcheck source=tests/uml/gadget.sh
source "$here/gadget.sh"
work=$(mktemp -d)

updated="The 'Widget' was updated sucessfully to version 1.05."
pack=("$cli" pack -o "$work/fw.upd" --product "Widget" --version 1.05 --mac-ports "Slow MIDI MIDI 1"
  --windows-params 'win:1:name:Widget:ideal:512:max:1024:delay:0')
case $case in
example | error)
  for part in 1:200 2:400 3:60; do
    "$here/../../examples/make-example-sysex.sh" "$work/part${part%:*}.syx" "${part%:*}" "${part#*:}"
  done
  "${pack[@]}" --portion "$work/part1.syx@2000" --portion "$work/part2.syx@500" \
    --portion "$work/part3.syx" >/dev/null
  cat "$work"/part[123].syx >"$work/expected.bin"
  if [ "$case" = example ]; then
    device=(--device-status "accept,busy:4,accept") want_status=0 want_text=$updated
  else
    device=(--device-status "accept,busy:4,error") want_status=4
    want_text="There was an error sending the update file."
  fi
  want_report="Received 3 complete portions and 0 identity requests."
  ;;
unpaced)
  perl -e 'for $n (0 .. 255) { print "\xf0", (map { chr(($n * 31 + $_ * 7) & 0x7f) } 0 .. 509), "\xf7" }' \
    >"$work/fw.syx"
  "${pack[@]}" --portion "$work/fw.syx" >/dev/null
  # The identity request follows the update.
  { cat "$work/fw.syx"; printf '\xf0\x7e\x7f\x06\x01\xf7'; } >"$work/expected.bin"
  device=(--device-status silent --device-version 1.05) want_status=0 want_text=$updated
  want_report="Received 1 complete portion and 1 identity request."
  ;;
*)
  echo "usb-midi-pushback.sh: no case $case"
  exit 2
  ;;
esac

gadget_make slow 0x0105 "Slow MIDI" ffs.midi
mkdir -p /dev/ffs-midi
mount -t functionfs midi /dev/ffs-midi
"$interface" /dev/ffs-midi "$work/got.bin" --device-expects "$work/fw.upd" "${device[@]}" \
  >"$work/interface.out" 2>&1 &
interface_pid=$!
for _ in $(seq 100); do
  grep -q ready "$work/interface.out" && break
  sleep 0.1
done
grep -q ready "$work/interface.out" || { echo "the interface did not start:"; cat "$work/interface.out"; exit 1; }
gadget_bind slow "Slow MIDI"

start=$SECONDS
status=0
"$cli" send "$work/fw.upd" --midi alsa --quiet --log "$work/send.log" >"$work/send.out" 2>&1 ||
  status=$?
send_seconds=$((SECONDS - start))
# The sender drains its last bytes from the driver, so they are at the interface by now.
for _ in $(seq 50); do
  cmp -s "$work/expected.bin" "$work/got.bin" && break
  sleep 0.1
done
kill -TERM "$interface_pid"
device_status=0
wait "$interface_pid" || device_status=$?

echo "send: exit $status after $send_seconds s: $(tr '\n' ' ' <"$work/send.out")"
echo "the interface got $(stat -c %s "$work/got.bin") of $(stat -c %s "$work/expected.bin") bytes;" \
  "the device, exit $device_status: $(sed 1d "$work/interface.out" | tr '\n' ' ')"
failed=0
[ "$status" -eq "$want_status" ] || { echo "FAILED: send exit $status, not $want_status"; failed=1; }
grep -qF "$want_text" "$work/send.out" || { echo "FAILED: send did not say: $want_text"; failed=1; }
cmp "$work/expected.bin" "$work/got.bin" || { echo "FAILED: the bytes differ"; failed=1; }
[ "$device_status" -eq 0 ] || { echo "FAILED: the device's record differs"; failed=1; }
grep -qF "$want_report" "$work/interface.out" || { echo "FAILED: not: $want_report"; failed=1; }
grep -q "identical to the update file" "$work/interface.out" ||
  { echo "FAILED: the device's record is not identical"; failed=1; }
no_overruns || failed=1
rm -rf "$work"
exit "$failed"
