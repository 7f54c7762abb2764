#!/usr/bin/env bash
# End-to-end checks of the Windows program under Wine: the test build
# (midi-updater-win-test.exe, a simulated device behind its winmm) runs on a virtual X
# display in a Wine virtual desktop; the script answers its boxes like a user and keeps
# screenshots of them.
#
#   windows-e2e.sh BUILD_DIR MIDI_UPDATER_CLI [SCREENSHOT_DIR]
#
# BUILD_DIR is a Windows build (its Windows/midi-updater-win-test.exe); the console
# program packs the update files. Screenshots go to SCREENSHOT_DIR (default
# BUILD_DIR/e2e-screenshots). Prints "N passed, N failed" last; exit status 1 when a
# check failed. Everything it starts (Xvfb, wineserver) it stops by PID; its Wine prefix
# and files are removed.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR MIDI_UPDATER_CLI [SCREENSHOT_DIR]" >&2; exit 2; }
build=$(cd "$1" && pwd)
cli=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shots=${3:-$build/e2e-screenshots}
exe=$build/Windows/midi-updater-win-test.exe
[ -f "$exe" ] || { echo "no $exe" >&2; exit 2; }
[ -x "$cli" ] || { echo "no $cli" >&2; exit 2; }
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)

# shellcheck source=tests/wine-desktop.sh
source "$(dirname "$0")/wine-desktop.sh"
wine_desktop_start midi-updater-e2e
# Wine draws CJK text only through a linked font, as a Chinese or Japanese Windows links
# its own (fonts-wqy-microhei).
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\n' \
  >"$work/fontlink.reg"
for face in "Tahoma" "MS Sans Serif" "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
  printf '"%s"=hex(7):%s\n' "$face" \
    "$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')" \
    >>"$work/fontlink.reg"
done
timeout 60 "$wine64" regedit /S "$(winpath "$work/fontlink.reg")" </dev/null >/dev/null 2>&1 || true

# Starts the program ($program, else the test build) with the given arguments in the
# virtual desktop, output to $1.
start_program() {
  local log=$1
  shift
  # Generous: a check with a whole update and its boxes takes minutes on a loaded machine.
  timeout 600 "$wine64" explorer "/desktop=$desktop" "$(winpath "${program:-$exe}")" "$@" \
    </dev/null >"$log" 2>"$log.err" &
  programPids+=($!)
}

# True when log $1 holds the given texts in this order, each on a later line.
in_order() {
  local log=$1
  shift
  tr -d '\r' <"$log" | awk -v n=$# 'BEGIN { for (i = 1; i <= n; i++) want[i] = ARGV[i]; ARGC = 1; k = 1 }
    k <= n && index($0, want[k]) { k++ }
    END { if (k <= n) { print "not in the log (in order): " want[k]; exit 1 } }' "$@"
}

# Answers box $1 titled $2 with key $3 until at most $4 windows bear that title (a key
# sent before the box has its focus is lost).
answer() {
  local box=$1 title=$2 key=$3 count=$4
  for _ in 1 2 3; do
    keys "$box" "$key" || true
    wait_for_fewer "$title" 5 "$count" && return 0
  done
  return 1
}

# Closes the main window with Alt+F4, as a user would.
close_main_window() {
  local main
  main=$(windows_named "MIDI Updater" | head -n 1)
  [ -n "$main" ] && keys "$main" alt+F4
}

# The height of the main window (the X window Wine made for it).
main_height() {
  xdotool getwindowgeometry "$(windows_named "MIDI Updater" | head -n 1)" |
    sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p'
}

# The largest peak resident size (kB) of the processes whose command line matches $1 and
# the test program's name (the program itself, and Wine's processes that started it).
peak_memory() {
  local pid peak=0 kb
  for pid in $(pgrep -f "$1.midi-updater-win(-test)?\\.exe" || true); do
    kb=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$kb" ] && [ "$kb" -gt "$peak" ] && peak=$kb
  done
  echo "$peak kB"
}

# Waits up to $1 seconds for the program started last (or process $2) to end; its exit
# status is 0.
wait_for_exit() {
  local seconds=$1 pid=${2:-${programPids[-1]}}
  within "$seconds" not_running "$pid" || return 1
  wait "$pid"
}

# Closes the main window and waits for the program to end with status 0. Alt+F4 may
# land on a box of the same caption that is still closing, or be slow to arrive on a
# loaded machine: ask again until the program has gone.
close_and_wait_for_exit() {
  for _ in 1 2 3 4 5 6; do
    close_main_window || true
    wait_for_exit 5 && return 0
    # Ended just after the wait gave up: its own status decides.
    running "${programPids[-1]}" || { wait "${programPids[-1]}" 2>/dev/null; return; }
  done
  return 1
}

# Ends what a failed check left running (the program's processes in our prefix only), so
# the next check starts afresh.
end_programs() {
  local pid
  for pid in $(prefix_processes 'midi-updater-win(-test)?\.exe'); do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${programPids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  programPids=()
}

# --- The files: an update in a folder whose name has a space, the bad files, a raw SysEx file.
files="$work/my updates"
mkdir -p "$files"
for part in 1 2; do
  { printf '\xf0\x7d' && printf "\\x0$part" && head -c 600 /dev/zero | tr '\000' '\021' && printf '\367'; } \
    >"$work/part$part.syx"
done
convert -size 520x110 gradient:'#3a1c5c-#b0407a' -font DejaVu-Sans-Bold -pointsize 26 \
  -fill white -gravity center -annotate +0+0 'Example Synth 1.05' "$work/image.png"
"$cli" pack -o "$files/Example Synth 1.05.upd" --product "Example Synth" --version 1.05 \
  --message $'Firmware 1.05 for the Example Synth.\nKeep the device powered until the update has finished.' \
  --windows-params 'win:1:name:Example Synth:ideal:256:max:512:delay:5:unprepdelay:5' \
  --image "$work/image.png" --portion "$work/part1.syx@100" --portion "$work/part2.syx" >/dev/null
good=$(winpath "$files/Example Synth 1.05.upd")
# One damaged file for each way the reader refuses one, a line each: PATH<TAB>REASON.
"$(dirname "$0")/bad-files/make.sh" "$work/bad files" "$cli" >"$work/bad-files.tsv"
mapfile -t refusals <"$work/bad-files.tsv"
[ ${#refusals[@]} -gt 0 ] || { echo "no bad files" >&2; exit 1; }
# Windows keeps a path of at most 259 characters, so a longer one is refused unread.
deep="$work/$(printf 'a-folder-with-a-long-name-%.0s' $(seq 9))"
mkdir -p "$deep"
cp "$files/Example Synth 1.05.upd" "$deep/too-long-path.upd"
refusals+=("$deep/too-long-path.upd"$'\t'"The file's path is longer than 259 characters.")
bad=$(winpath "${refusals[0]%%$'\t'*}")
cp "$work/part1.syx" "$work/raw.syx"
raw=$(winpath "$work/raw.syx")

accepting="--device-status accept --device-version 1.05 --device-expects '$good'"

# --- 1. A good update, passed as one argument with a space in its folder's name.
log1=$work/check1.log
export MIDI_UPDATER_SIMULATE=$accepting
start_program "$log1" "$good"
ok=true
if box=$(wait_for_windows "Important message about update" 1 30); then
  shot 1-important-message
  # A second start while the first update's message is up is not a second job.
  first=${programPids[-1]}
  start_program "$work/check1-second.log" "$bad"
  wait_for_exit 30 || { ok=false; echo "the second start did not end"; }
  programPids+=("$first")
  keys "$box" Return
else
  ok=false
  echo "no important-message box"
fi
if $ok && box=$(wait_for_windows "MIDI Updater" 2 90); then
  sleep 0.5 # the status line is drawn before the box comes up; let it settle
  shot 1-completed
  keys "$box" Return
  wait_for_fewer "MIDI Updater" 5 1 || ok=false
  sleep 0.5
  shot 1-final-window
  # Help > About, from the keyboard.
  keys "$(windows_named "MIDI Updater" | head -n 1)" alt+h a
  if box=$(wait_for_windows "About" 1 10); then
    shot 1-about
    keys "$box" Return
    wait_for_fewer "About" 5 0 || ok=false
  else
    ok=false
    echo "no About box"
  fi
else
  ok=false
  echo "no completion box"
fi
expected=(
  "Message box \"Important message about update\":"
  "  Firmware 1.05 for the Example Synth."
  "  Click OK to start."
  "Creating worker thread!"
  "Loading update file $good..."
  "Product name:   Example Synth"
  "Message:        Firmware 1.05 for the Example Synth."
  "Port names:     1"
  "SysEx portions: 2"
  "Total SysEx:    1208 bytes"
  "Using Window MM library ********************************************"
  "Status: Started update"
  "Status: Looking for Example Synth to update..."
  "Status: Sent 604 bytes of 604 bytes"
  "Status: Device has accepted update."
  "Status: Waiting for device to become active..."
  "Status: Sending chunk #2 of 2"
  "Status: Sent 604 bytes of 604 bytes"
  "Status: Device has accepted update."
  "Status: MIDI update sent successfully."
  "Completed: The 'Example Synth' was updated sucessfully to version 1.05."
  "Message box \"About\":"
  "  MIDI Updater"
  "  Version 1.05 (alpha)"
  "  Copyright (C) 2026 Vorn Instruments"
)
# The stand-in's device compared every byte it received with the file's portions.
if ! tr -d '\r' <"$log1" |
  grep -q "^Integrity: device received 2 portions, .*, identical to the update file$"; then
  ok=false
  echo "the device did not receive the update file's bytes"
fi
if grep -q "Thread caught exception" "$log1"; then
  ok=false
  echo "the file of the second start was opened during the first update"
fi
if $ok && in_order "$log1" "${expected[@]}"; then
  pass "a good update, its boxes, its log and the About box; no second job meanwhile"
else
  fail "a good update, its boxes and its log (log: $log1)"
  tr -d '\r' <"$log1" | tail -n 40
fi
close_and_wait_for_exit || fail "the program did not end when its window was closed"
end_programs

# --- 2. Every bad file in turn in one window, the first as the argument and the rest
# handed over by second starts: each ends in its error box and an idle window; then a
# good update runs there.
# Checks the error box for row $1 (PATH<TAB>REASON) in the log's lines from $2 on,
# answers it, and checks that the window is as it was while idle.
refused() {
  local path=${1%%$'\t'*} reason=${1#*$'\t'} from=$2 box
  reason=${reason//"$path"/$(winpath "$path")} # a reason that names the file
  box=$(wait_for_windows "MIDI Updater" 2 30) || { echo "no error box"; return 1; }
  [ -n "$idleHeight" ] || idleHeight=$(main_height)
  shot "2-refused-$(basename "$path" .upd)"
  tr -d '\r' <"$log2" | tail -n +"$from" >"$work/row.log"
  diff <(printf '%s\n' 'Message box "MIDI Updater":' \
    '  The update failed for the following reason:' '  ' "  $reason") \
    <(grep -xF -A3 'Message box "MIDI Updater":' "$work/row.log") ||
    { echo "not that one error box"; return 1; }
  ! grep -qF "Creating worker thread!" "$work/row.log" || { echo "a job started"; return 1; }
  answer "$box" "MIDI Updater" Return 1 || { echo "the box stayed"; return 1; }
  [ "$(main_height)" = "$idleHeight" ] || { echo "the window grew"; return 1; }
}
# Hands path $1 to the running program by a second start. Wine keeps a process some
# seconds after its program has ended, so the next file does not wait for that: the
# second starts' ends are checked last.
hand_over() {
  start_program "$work/check2-second-${#handovers[@]}.log" "$1"
  handovers+=("${programPids[-1]}")
  programPids+=("$first")
}
log2=$work/check2.log
idleHeight=""
handovers=()
ok=true
for row in "${refusals[@]}"; do
  from=1
  if [ "$row" = "${refusals[0]}" ]; then
    start_program "$log2" "$(winpath "${row%%$'\t'*}")"
    first=${programPids[-1]}
  else
    from=$(($(wc -l <"$log2") + 1))
    hand_over "$(winpath "${row%%$'\t'*}")"
  fi
  if $ok && refused "$row" "$from"; then
    pass "refused, then idle: $(basename "${row%%$'\t'*}") (${row#*$'\t'})"
  else
    ok=false
    fail "refused, then idle: ${row%%$'\t'*} (log: $log2)"
    tr -d '\r' <"$log2" | tail -n 20
    break
  fi
done
if $ok; then
  hand_over "$good"
  box=$(wait_for_windows "Important message about update" 1 30) && keys "$box" Return || ok=false
  if box=$(wait_for_windows "MIDI Updater" 2 90); then
    sleep 0.5
    shot 2-second-start-completed
    keys "$box" Return
  else
    ok=false
    echo "no completion box after the second start"
  fi
  in_order "$log2" "Loading update file $good..." \
    "Completed: The 'Example Synth' was updated sucessfully to version 1.05" || ok=false
  for pid in "${handovers[@]}"; do
    wait_for_exit 30 "$pid" || { ok=false; echo "a second start did not end"; }
  done
  if $ok; then
    pass "after every bad file, a good update runs in the same window"
  else
    fail "a good update after the bad files (log: $log2)"
    tr -d '\r' <"$log2" | tail -n 30
  fi
fi
close_and_wait_for_exit || fail "the program did not end when its window was closed"
end_programs

# --- 3. A raw SysEx file shows the standard instructions; closing while busy asks first.
log3=$work/check3.log
export MIDI_UPDATER_SIMULATE="--device-status accept --device-appears-after 600000"
start_program "$log3" "$raw"
ok=true
if box=$(wait_for_windows "Important message about update" 1 30); then
  shot 3-sysex-message
  keys "$box" Return
  wait_for_log "$log3" 10 "Using Window MM library" || ok=false
  in_order "$log3" "Message box \"Important message about update\":" \
    "  To apply this update file, please detach all MIDI devices from your computer, and shut down all other MIDI applications." \
    "  When the device is ready to accept an update, you can start the update process." \
    "  Click OK to start." "Creating worker thread!" "Product name:   <SysEx Update Device>" ||
    ok=false
  # The device stays away: closing now asks, and "Do not close" keeps the program.
  sleep 1
  close_main_window
  if box=$(wait_for_windows "An update is in progress" 1 10); then
    shot 3-close-while-busy
    keys "$box" Return
    wait_for_fewer "An update is in progress" 5 0 || ok=false
    sleep 1
    [ -n "$(windows_named "MIDI Updater")" ] || { ok=false; echo "Do not close closed it"; }
    close_main_window
    # Wine lays out the relabelled buttons only once the box is active, so a key sent
    # earlier can miss "&Close": answer presses it until the box has gone.
    if box=$(wait_for_windows "An update is in progress" 1 10); then
      answer "$box" "An update is in progress" c 0 || ok=false
    else
      ok=false
    fi
  else
    ok=false
    echo "closing while busy did not ask"
  fi
else
  ok=false
  echo "no SysEx message box"
fi
wait_for_exit 30 || { ok=false; echo "Close did not end the program"; }
end_programs
if $ok; then
  pass "a raw SysEx file's message; closing during an update asks first"
else
  fail "a raw SysEx file, then closing while busy (log: $log3)"
  tr -d '\r' <"$log3" | tail -n 30
fi

# --- 4. Without Header.png: its box, and a second start's path handed over while that box
# is up (the window is still being made) waits for it; then an update from a folder and
# with texts outside any one code page, a missing file, and a file in cp1252.
noHeader="$work/no header"
mkdir -p "$noHeader"
cp "$exe" "$noHeader/"
unicodeFile="$work/Прошивка 固件 ✓/Größe 固件 Synth 1.05.upd"
mkdir -p "$(dirname "$unicodeFile")"
"$cli" pack -q -o "$unicodeFile" --product "Größe 固件 Synth" --version 1.05 \
  --message $'Прошивка 1.05 für „Größe 固件 Synth“ ✓\nKeep the device powered.' \
  --windows-params 'win:1:name:Größe 固件 Synth:ideal:256:max:512:delay:5:unprepdelay:5' \
  --portion "$work/part1.syx"
unicode=$(winpath "$unicodeFile")
cp1252File="$files/Western.upd"
"$cli" pack -q --allow-any-bytes -o "$cp1252File" --product $'Gr\xf6\xdfe Synth' --version 1.05 \
  --message $'Caf\xe9 firmware for the Gr\xf6\xdfe Synth \x96 \x80 5 off' \
  --windows-params $'win:1:name:Gr\xf6\xdfe Synth:ideal:256:max:512:delay:5:unprepdelay:5' \
  --portion "$work/part1.syx"
missing=$(winpath "$work/no such file.upd")
log4=$work/check4.log
export MIDI_UPDATER_SIMULATE="--device-status accept --device-version 1.05"
program="$noHeader/midi-updater-win-test.exe" start_program "$log4"
first=${programPids[-1]}
ok=true
# Answers the update's message box and its completion box; $1 names the screenshots.
update_runs() {
  local box
  box=$(wait_for_windows "Important message about update" 1 30) || { echo "no message box"; return 1; }
  sleep 0.5
  shot "$1-message"
  keys "$box" Return
  box=$(wait_for_windows "MIDI Updater" 2 90) || { echo "no completion box"; return 1; }
  sleep 0.5
  shot "$1-completed"
  answer "$box" "MIDI Updater" Return 1 || { echo "the completion box stayed"; return 1; }
  sleep 0.5
  shot "$1-window"
}
# Hands $1 over by a second start and waits for that start to end.
hand_over_and_wait() {
  start_program "$work/check-second-$RANDOM.log" "$1"
  local second=${programPids[-1]}
  programPids+=("$first")
  wait_for_exit 30 "$second" || { echo "the second start did not end"; return 1; }
}
if box=$(wait_for_windows "Error" 1 30); then
  hand_over_and_wait "$unicode" || ok=false
  shot 4-no-header-box
  ! log_has "$log4" "Loading update file" || { ok=false; echo "opened while the box was up"; }
  answer "$box" "Error" Return 0 || ok=false
  update_runs 4-unicode || ok=false
else
  ok=false
  echo "no box for the missing Header.png"
fi
if $ok && in_order "$log4" 'Message box "Error":' "  Failed to load background image" \
  "Loading update file $unicode..." "Product name:   Größe 固件 Synth" \
  "Message:        Прошивка 1.05 für „Größe 固件 Synth“ ✓" \
  "Status: Looking for Größe 固件 Synth to update..." \
  "Completed: The 'Größe 固件 Synth' was updated sucessfully to version 1.05."; then
  pass "no Header.png: its box, a clean header area; a path handed over meanwhile waits; a Unicode folder, product and message"
else
  ok=false
  fail "no Header.png, then a Unicode update (log: $log4)"
  tr -d '\r' <"$log4" | tail -n 30
fi
if $ok; then
  from=$(($(wc -l <"$log4") + 1))
  hand_over_and_wait "$missing" || ok=false
  if box=$(wait_for_windows "MIDI Updater" 2 30); then
    shot 4-missing-file
    answer "$box" "MIDI Updater" Return 1 || ok=false
  else
    ok=false
  fi
  if $ok && tail -n +"$from" "$log4" | tr -d '\r' |
    grep -qxF "  cannot open $missing (No such file or directory)" &&
    ! tail -n +"$from" "$log4" | grep -qF "bad header"; then
    pass "a missing file is reported as one that cannot be opened"
  else
    ok=false
    fail "a missing file's message (log: $log4)"
    tr -d '\r' <"$log4" | tail -n 20
  fi
fi
if $ok; then
  hand_over_and_wait "$(winpath "$cp1252File")" || ok=false
  update_runs 4-cp1252 || ok=false
  # The log keeps the file's bytes.
  if $ok && LC_ALL=C in_order "$log4" $'Product name:   Gr\xf6\xdfe Synth' \
    $'Completed: The \'Gr\xf6\xdfe Synth\' was updated sucessfully to version 1.05.'; then
    pass "a cp1252 update file is shown as before; the log keeps its bytes"
  else
    fail "a cp1252 update file (log: $log4)"
    tr -d '\r' <"$log4" | tail -n 20
  fi
fi
close_and_wait_for_exit || fail "the program did not end when its window was closed"
end_programs

# --- 5. A damaged Header.png; a dropped path too long to keep (the test build drops it
# as the shell would); a second start while the Open dialog is up waits for the dialog;
# an update whose image would take gigabytes.
damagedHeader="$work/damaged header"
mkdir -p "$damagedHeader"
cp "$exe" "$damagedHeader/"
head -c 300 "$(dirname "$exe")/Header.png" >"$damagedHeader/Header.png"
longDrop="$deep/another-folder-for-a-drop/too-long-drop.upd"
mkdir -p "$(dirname "$longDrop")"
cp "$files/Example Synth 1.05.upd" "$longDrop"
convert -size 16x16 xc:'#3a1c5c' png:"$work/huge.png"
# Its header says 20000 x 20000, which is all the program may read of it.
printf '\x00\x00\x4e\x20\x00\x00\x4e\x20' | dd of="$work/huge.png" bs=1 seek=16 conv=notrunc 2>/dev/null
"$cli" pack -q -o "$files/Huge image.upd" --product "Example Synth" --version 1.05 \
  --message "An image of 20000 x 20000 pixels." --image "$work/huge.png" \
  --windows-params 'win:1:name:Example Synth:ideal:256:max:512:delay:5:unprepdelay:5' \
  --portion "$work/part1.syx"
log5=$work/check5.log
MIDI_UPDATER_TEST_DROP=$(winpath "$longDrop") program="$damagedHeader/midi-updater-win-test.exe" \
  start_program "$log5"
first=${programPids[-1]}
ok=true
if box=$(wait_for_windows "Error" 1 30); then
  shot 5-damaged-header-box
  answer "$box" "Error" Return 0 || ok=false
else
  ok=false
  echo "no box for the damaged Header.png"
fi
if $ok && box=$(wait_for_windows "MIDI Updater" 2 30); then
  shot 5-long-drop
  answer "$box" "MIDI Updater" Return 1 || ok=false
else
  ok=false
fi
if $ok && in_order "$log5" "Failed to convert PNG" "  Failed to load background image" \
  "Test: dropping a file" "  The file's path is longer than 259 characters." &&
  ! log_has "$log5" "bad header" && ! log_has "$log5" "Creating worker thread!"; then
  pass "a damaged Header.png: its box; a dropped path too long to keep gets the long-path box"
else
  ok=false
  fail "a damaged Header.png, then a long dropped path (log: $log5)"
  tr -d '\r' <"$log5" | tail -n 20
fi
if $ok; then
  keys "$(windows_named "MIDI Updater" | head -n 1)" alt+f o
  if dialog=$(wait_for_windows "Open" 1 15); then
    shot 5-open-dialog
    hand_over_and_wait "$good" || ok=false
    sleep 1
    ! log_has "$log5" "Loading update file" || { ok=false; echo "opened behind the dialog"; }
    [ -n "$(windows_named "Open")" ] || { ok=false; echo "the dialog went"; }
    keys "$dialog" Escape
    update_runs 5-after-dialog || ok=false
  else
    ok=false
    echo "no Open dialog"
  fi
  if $ok && in_order "$log5" "Loading update file $good..." \
    "Completed: The 'Example Synth' was updated sucessfully to version 1.05."; then
    pass "a second start while the Open dialog is up waits until the dialog has closed"
  else
    ok=false
    fail "a second start during the Open dialog (log: $log5)"
    tr -d '\r' <"$log5" | tail -n 20
  fi
fi
if $ok; then
  hand_over_and_wait "$(winpath "$files/Huge image.upd")" || ok=false
  update_runs 5-huge-image || ok=false
  echo "Peak resident memory with the 20000 x 20000 image: $(peak_memory 'damaged header')"
  if $ok && in_order "$log5" "Loading update file $(winpath "$files/Huge image.upd")..." \
    "Header image of 20000 x 20000 pixels is larger than 4096 x 4096: not decoded" \
    "Completed: The 'Example Synth' was updated sucessfully to version 1.05."; then
    pass "an update's image of 20000 x 20000 pixels is not decoded; the update goes on"
  else
    fail "an update's huge image (log: $log5)"
    tr -d '\r' <"$log5" | tail -n 20
  fi
fi
close_and_wait_for_exit || fail "the program did not end when its window was closed"
end_programs

# --- 6. The shipped program on Wine's own winmm, which lists no device here: it waits
# for the device, and closing asks first.
real=$build/Windows/midi-updater-win.exe
if [ -f "$real" ]; then
  log6=$work/check6.log
  program=$real start_program "$log6" "$unicode"
  ok=true
  if box=$(wait_for_windows "Important message about update" 1 30); then
    keys "$box" Return
    wait_for_log "$log6" 30 "Status: Looking for Größe 固件 Synth to update..." || ok=false
    sleep 1
    shot 6-real-winmm-looking
    close_main_window
    if box=$(wait_for_windows "An update is in progress" 1 10); then
      answer "$box" "An update is in progress" c 0 || ok=false
    else
      ok=false
      echo "closing while busy did not ask"
    fi
    wait_for_exit 30 || { ok=false; echo "Close did not end the program"; }
  else
    ok=false
    echo "no message box"
  fi
  if $ok && in_order "$log6" "ListInterfaces output..." "ListInterfaces input..." \
    "Loading update file $unicode..." "Using Window MM library" \
    "Status: Looking for Größe 固件 Synth to update..." 'Message box "An update is in progress":'; then
    pass "the shipped program on Wine's winmm: a Unicode path, waiting for the device, closing asks"
  else
    fail "the shipped program on Wine's winmm (log: $log6)"
    tr -d '\r' <"$log6" | tail -n 30
  fi
  end_programs
fi

# --- 7. Soak: one window takes 50 updates in a row, good and bad mixed, offered by the
# test build each time the window is idle again (its boxes answered with their default
# button); what the process holds must stay flat.
log7=$work/check7.log
export MIDI_UPDATER_SIMULATE="--device-status accept --device-version 1.05"
MIDI_UPDATER_TEST_OFFERS="50|$unicode|$bad|$(winpath "$cp1252File")|$missing|$raw" start_program "$log7"
ok=true
wait_for_exit 600 || { ok=false; echo "the soak did not end"; }
# Holdings after the 10th offer (everything loaded once) and after the 50th.
holdings() { tr -d '\r' <"$log7" | sed -n "s/^Soak: after $1: //p"; }
first10=$(holdings 10)
last=$(holdings 50)
echo "Soak: after 10: $first10"
echo "Soak: after 50: $last"
read -r gdi10 _ _ user10 _ _ handles10 _ private10 _ _ working10 _ <<<"$first10"
read -r gdi50 _ _ user50 _ _ handles50 _ private50 _ _ working50 _ <<<"$last"
if $ok && [ -n "$last" ] && [ "$(grep -c '^Creating worker thread!' <(tr -d '\r' <"$log7"))" -eq 30 ] &&
  [ $((gdi50 - gdi10)) -le 2 ] && [ $((user50 - user10)) -le 2 ] &&
  [ $((handles50 - handles10)) -le 8 ] && [ $((private50 - private10)) -le 2048 ] &&
  [ $((working50 - working10)) -le 4096 ]; then
  pass "50 updates in one window: GDI, USER, handles and private memory stay flat"
else
  fail "the soak (log: $log7)"
  tr -d '\r' <"$log7" | grep "^Soak" | tail -n 10
fi
end_programs

echo "Screenshots: $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
