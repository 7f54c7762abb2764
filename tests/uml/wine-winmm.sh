#!/usr/bin/env bash
# The Windows port on another winmm: Wine's own, whose ALSA driver carries the bytes over
# the kernel's real sequencer to `device --alsa`, inside the user-mode Linux kernel.
#   tests/uml/wine-winmm.sh DEFAULT_BUILD WINDOWS_BUILD
# DEFAULT_BUILD holds midi-updater-cli and the kernel (tests/uml/build-kernel.sh);
# WINDOWS_BUILD holds tests/winmm-update.exe. Prints one line per case, then
# "N passed, M failed".
set -euo pipefail

wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

wine_environment() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINELOADER=$wine64 DISPLAY=
  # No .NET, browser engine or desktop menus: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

if [ "${1:-}" != --inside ]; then
  default_build=$(realpath "${1:?usage: wine-winmm.sh DEFAULT_BUILD WINDOWS_BUILD}")
  windows_build=$(realpath "${2:?usage: wine-winmm.sh DEFAULT_BUILD WINDOWS_BUILD}")
  here=$(dirname "$(realpath "$0")")
  "$here/build-kernel.sh" "$default_build"
  # A prefix of its own, made here: Wine creates one in seconds on the host, in minutes
  # inside the kernel. Its server inside the kernel is the kernel's own (a /tmp of its own).
  prefix=$windows_build/wine-uml
  if [ ! -f "$prefix/system.reg" ]; then
    (
      wine_environment "$prefix"
      "$wine64" wineboot </dev/null >/dev/null 2>&1
      "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f </dev/null >/dev/null 2>&1
      "$wineserver" -w
    )
  fi
  exec "$here/run.sh" "$default_build" 240 "$0" --inside "$default_build/Console/midi-updater-cli" \
    "$windows_build/tests/winmm-update.exe" "$prefix"
fi

cli=$2
program=$3
wine_environment "$4"
work=$(mktemp -d)
passed=0
failed=0
crashes=0
want=

# Wine waits for the kernel's random numbers, which a kernel without a hardware source
# takes a minute and a half to gather; credit it some from its own pool.
head -c 64 /dev/urandom >"$work/seed"
perl -e 'open(my $r, ">", "/dev/random") or die; local $/; open(my $s, "<", $ARGV[0]) or die;
  my $b = <$s>; ioctl($r, 0x40085203, pack("ii", 8 * length $b, length $b) . $b)
    or die "RNDADDENTROPY: $!"' "$work/seed"
# Wine looks up the machine's name; "(none)" would wait for a name server.
echo localhost >/proc/sys/kernel/hostname
# Wine runs only in a prefix its user owns: the host user's, who may not be root. That
# user then needs the sequencer, which the kernel gives only root.
as_owner=()
owner=$(stat -c %u "$WINEPREFIX")
if [ "$owner" != "$(id -u)" ]; then
  as_owner=(setpriv --reuid="$owner" --regid="$(stat -c %g "$WINEPREFIX")" --clear-groups)
  chmod 666 /dev/snd/seq
  chmod 755 "$work"
fi
"${as_owner[@]}" "$wineserver" -p

# Messages of SIZE bytes, COUNT of them, numbered from FIRST so no two portions are alike.
messages() {
  perl -e 'my ($first, $count, $size) = @ARGV;
    for $n ($first .. $first + $count - 1) {
      print "\xf0", (map { chr(($n * 31 + $_ * 7) & 0x7f) } 0 .. $size - 3), "\xf7" }' "$@"
}

# Each piece of CHUNK bytes as the port sends it when asked to frame: F0 in front unless
# it has one, F7 behind unless it has one.
framed() {
  perl -e 'local $/; my $bytes = <STDIN>; my $chunk = $ARGV[0];
    for (my $at = 0; $at < length $bytes; $at += $chunk) {
      my $piece = substr($bytes, $at, $chunk);
      $piece = "\xf0$piece" unless $piece =~ /^\xf0/;
      $piece .= "\xf7" unless $piece =~ /\xf7$/;
      print $piece }' "$1"
}

# case NAME PARAMS EXPECTED_UPD DEVICE_OPTIONS... -- PORTION...: packs the update, serves
# the device on the sequencer, sends with the Windows port under Wine, and checks the
# program's verdict, its undelivered count and the device's record (and that the
# device's report has the text in `want`).
case_() {
  local name=$1 params=$2 expects=$3
  shift 3
  local device_options=()
  while [ "$1" != -- ]; do device_options+=("$1"); shift; done
  shift
  local portions=()
  for portion in "$@"; do portions+=(--portion "$portion"); done
  "$cli" pack -o "$work/update.upd" --product Widget --version 1.05 --windows-params "$params" \
    "${portions[@]}" -q
  [ -n "$expects" ] || expects=$work/update.upd
  "$cli" device --alsa Widget --device-expects "$expects" "${device_options[@]}" \
    >"$work/device.out" 2>&1 &
  local device=$!
  for _ in $(seq 50); do
    grep -q '^Serving' "$work/device.out" && break
    sleep 0.1
  done
  local start=$SECONDS
  local status=0
  "${as_owner[@]}" "$wine64" "$program" "$work/update.upd" </dev/null >"$work/send.out" 2>"$work/send.log" || status=$?
  local took=$((SECONDS - start))
  kill -INT "$device"
  local device_status=0
  wait "$device" || device_status=$?
  local verdict undelivered
  tr -d '\r' <"$work/send.out" >"$work/send.txt"
  verdict=$(sed -n 's/^verdict: //p' "$work/send.txt")
  undelivered=$(sed -n 's/^undelivered: //p' "$work/send.txt")
  local received
  received=$(tail -n 1 "$work/device.out")
  # Wine's ALSA MIDI driver may crash as the process unloads it, after the program's
  # last line: Wine's fault, told but not counted.
  if [ "$status" -eq 139 ] && [ -n "$undelivered" ]; then
    echo "(Wine crashed as the program exited: SIGSEGV after its last line)"
    crashes=$((crashes + 1))
    status=0
  fi
  if [ "$status" -eq 0 ] && [ "$verdict" = accepted ] && [ "$undelivered" = 0 ] &&
    [ "$device_status" -eq 0 ] && [[ $received == *identical* ]] &&
    grep -q "$want" "$work/device.out"; then
    echo "ok: $name: $verdict, undelivered $undelivered, $took s; device: $received"
    passed=$((passed + 1))
  else
    echo "FAILED: $name: exit $status, verdict '$verdict', undelivered '$undelivered';" \
      "device exit $device_status: $received"
    grep '^Received' "$work/device.out" || true
    sed -n '/^output\|^input\|^failure\|^completed/p' "$work/send.txt"
    tr -d '\r' <"$work/send.log" | tail -n 20
    failed=$((failed + 1))
  fi
}

# The device as Wine lists it: "client - port".
device_name='Widget - Widget'

# Portions of 512-byte messages; the device's replies (busy, then accept) come through
# Wine's input side. (The Windows port asks for no identity: it goes by these replies.)
messages 0 16 512 >"$work/p1.syx"
messages 16 16 512 >"$work/p2.syx"
messages 32 16 512 >"$work/p3.syx"
want="Received 3 complete portions"
case_ "three portions, busy and accept replies" \
  "win:1:name:$device_name:ideal:512:max:1024:delay:0" "" \
  --device-status busy:1,accept -- "$work/p1.syx" "$work/p2.syx" "$work/p3.syx"
want=

# Messages longer than a chunk: the port frames each 512-byte chunk, and the device must
# get exactly those framed chunks.
messages 48 4 2000 >"$work/long.syx"
framed 512 <"$work/long.syx" >"$work/long-framed.syx"
"$cli" pack -o "$work/long-framed.upd" --product Widget --version 1.05 \
  --portion "$work/long-framed.syx" -q
case_ "2000-byte messages in framed 512-byte chunks" \
  "win:1:name:$device_name:ideal:512:max:512:delay:0" "$work/long-framed.upd" \
  -- "$work/long.syx"

# 128 KiB of 512-byte messages in one portion, without even the pause after each chunk's
# release that the parameters have by default (100 ms).
messages 64 256 512 >"$work/large.syx"
case_ "128 KiB of 512-byte messages, unpaced" \
  "win:1:name:$device_name:ideal:512:max:1024:delay:0:unprepdelay:0" "" \
  -- "$work/large.syx"

"${as_owner[@]}" "$wineserver" -k || true
rm -rf "$work"
echo "Wine crashed on exit in $crashes of $((passed + failed)) runs"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
