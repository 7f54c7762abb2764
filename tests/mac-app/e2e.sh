#!/usr/bin/env bash
# The Mac program end to end, on a virtual X display. Its test build sends an update and
# a plain SysEx file to a simulated device that accepts, fails on every file the reader
# refuses (tests/bad-files/make.sh, in one run that then sends an update), refuses a
# second file during an update, keeps running when the user declines to
# quit then (or presses Escape) and ends at once when the user insists, 20 times in a
# row at different moments of an update (E2E_QUITS); shows a failure that comes under
# another panel after it; takes 30 updates in a row, good and bad files mixed, in one
# program whose resident memory stays within a bound (E2E_SOAK); the program itself opens a file handed to it
# at launch, and one chosen with Open…, and shows About. Panels, menus and buttons are
# worked with xdotool as a user would; screenshots of every stage and each run's log go
# to OUT. Ends with "N passed, N failed"; exits non-zero on a failure.
#
# usage: tests/mac-app/e2e.sh BUILD_DIR OUT_DIR
#   BUILD_DIR holds midi-updater-mac.app and midi-updater-mac-test.app
#   MIDI_UPDATER_CLI (default build/default/Console/midi-updater-cli) writes the bad files
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=${MIDI_UPDATER_CLI:-$here/../../build/default/Console/midi-updater-cli}
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
rm -f "$out"/*.png "$out"/*.log

passed=0
failed=0
xvfb=""
gdnc=""
app=""

# GNUstep keeps its message-port names under TEMP and its defaults (the open panel's
# last folder, say) where its configuration file says: private ones keep this run apart
# from the user's and from other runs on the machine.
private=$(mktemp -d)
export HOME=$private TEMP=$private GNUSTEP_CONFIG_FILE=$private/GNUstep.conf
{
  grep -v '^GNUSTEP_USER_DEFAULTS_DIR=' /etc/GNUstep/GNUstep.conf 2>/dev/null || true
  echo "GNUSTEP_USER_DEFAULTS_DIR=$private/Defaults"
} >"$GNUSTEP_CONFIG_FILE"

stop() { # PID: TERM, then KILL if it lingers
  local pid=$1
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  # A program still running may be asking whether to quit: no answer will come.
  [ -z "$app" ] || kill -KILL $(pgrep -P "$app") 2>/dev/null || true
  stop "$app"
  stop "$gdnc"
  stop "$xvfb"
  rm -rf "$private"
}
trap cleanup EXIT
trap 'exit 143' TERM INT # through the EXIT trap, so nothing started here outlives the run

check() { # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "  ok    $what"
  else
    failed=$((failed + 1))
    echo "  FAIL  $what"
    [ -z "$log" ] || tail -n 5 "$log" | sed 's/^/        /'
  fi
}

log=""
from=1 # the log is read from this line on: what came before belongs to earlier files
# grep reads all its input: with -q it would stop at the first match, and tail, cut
# off, would fail the pipe (pipefail) once the rest of the log is long.
logged() { tail -n +"$from" "$log" | grep -F -- "$1" >/dev/null; }
wait_logged() { # TEXT SECONDS
  local deadline=$((SECONDS + $2))
  until logged "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
# A logged line ending in FIRST, and SECOND as the line after it: a two-line text.
said() { tail -n +"$from" "$log" | awk -v a="$1" -v b="$2" \
  'p && $0 == b { f = 1 } { p = substr($0, length($0) - length(a) + 1) == a } END { exit !f }'; }
wait_said() { # FIRST SECOND SECONDS
  local deadline=$((SECONDS + $3))
  until said "$1" "$2"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
wait_logged_regex() { # REGEX SECONDS
  local deadline=$((SECONDS + $2))
  until tail -n +"$from" "$log" | grep -E -- "$1" >/dev/null; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

# Panels are X windows named after their kind ("Alert", "Open"), not their titles.
panel() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
wait_panel() { # NAME SECONDS
  local deadline=$((SECONDS + $2))
  until [ -n "$(panel "$1")" ]; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
  sleep 0.5 # drawn
}
answer() { # NAME: press the default button, as a user would with Return
  local window
  window=$(panel "$1")
  [ -n "$window" ] || return 1
  xdotool windowfocus --sync "$window" key Return || return 1
  local deadline=$((SECONDS + 10))
  while xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -qx "$window"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
shot() { import -window root "$out/$1.png"; }
# The progress bar in a screenshot (the window is centred on the 1024x768 screen): a
# full bar is one flat colour, a spinning one is striped.
bar() { convert "$out/$1.png" -crop 420x12+302+459 -format "%[fx:$2]" info:; }
bar_full() { awk -v sd="$(bar "$1" standard_deviation)" -v m="$(bar "$1" mean)" \
  'BEGIN { exit !(sd < 0.02 && m < 0.5) }'; }
# The status line past "Update failed for reason:", where the reason follows: not blank.
# Looked at once the window is drawn again after its sheet.
reason_shown() { # SHOT
  local deadline=$((SECONDS + 5))
  until shot "$1" && awk -v sd="$(convert "$out/$1.png" -crop 100x14+460+489 \
    -format '%[fx:standard_deviation]' info:)" 'BEGIN { exit !(sd > 0.05) }'; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.3
  done
}
bar_spinning() { awk -v sd="$(bar "$1" standard_deviation)" 'BEGIN { exit !(sd > 0.15) }'; }

running() { kill -0 "$app" 2>/dev/null; }
# SIGTERM goes through the program's own quit. It goes to the program, not to `timeout`,
# which would pass it on and then kill the program if it asked the user first.
ask_to_quit() { kill -TERM "$(pgrep -P "$app")"; }
quit() { ask_to_quit && exited 10; }
# Command-KEY on the main window, as a user would (the Command key is Alt here). While a
# job runs, quit this way rather than by SIGTERM: GNUstep handles that signal on
# whichever thread it reaches, the job's too, which then asks the question itself.
command_key() { xdotool windowfocus --sync "$(main_window)" key "alt+$1"; }
main_window() { xdotool search --onlyvisible --name '^MIDI Updater$' | head -n 1; }
exited() { # SECONDS
  local deadline=$((SECONDS + $1))
  while running; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
  wait "$app"
  local status=$?
  app=""
  [ "$status" -eq 0 ]
}

launch() { # NAME BUNDLE [ARGUMENTS...]: one run, bounded by the wall clock
  local name=$1 bundle=$2
  shift 2
  log=$out/$name.log
  from=1
  local executable=$build/$bundle.app/$bundle
  # Now and then, on this busy machine, a program could not open its display although
  # the server was running and took the next one: so a second try, said aloud.
  for attempt in 1 2; do
    kill -0 "$xvfb" 2>/dev/null || { echo "  the X server of this run has gone"; return 1; }
    timeout -k 10 150 "$executable" -GSSuppressAppIcon YES \
      -NSMenuInterfaceStyle NSMacintoshInterfaceStyle -GSX11HandlesWindowDecorations NO \
      "$@" >"$log" 2>&1 &
    app=$!
    local deadline=$((SECONDS + 30))
    until xdotool search --onlyvisible --name '^MIDI Updater$' >/dev/null 2>&1; do
      if ! running && grep -q "Unable to connect to X Server" "$log" && [ $attempt -eq 1 ]; then
        echo "  (the program could not open the display; once more)"
        wait "$app"
        sleep 1
        continue 2
      fi
      [ $SECONDS -lt $deadline ] || return 1
      sleep 0.2
    done
    return 0
  done
  return 1
}

# The window's close button, drawn by the program itself here. A click may only make the
# window active, so a user tries again.
close_window() {
  local window
  window=$(xdotool search --onlyvisible --name '^MIDI Updater$' | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$window")"
  for _ in 1 2 3; do
    xdotool mousemove $((X + WIDTH - 13)) $((Y + 10)) click 1
    exited 3 && return 0
  done
  return 1
}

# The application menu, then its first item, About. A click may only activate the menu
# bar, so a user tries again.
about() {
  for _ in 1 2 3 4 5; do
    xdotool mousemove 54 11 click 1
    sleep 1
    if xdotool search --onlyvisible --name '^Window$' >/dev/null 2>&1; then
      xdotool mousemove 60 32 click 1
      wait_panel Info 3 && return 0
    fi
  done
  return 1
}

# A free display, probed from a random high number: the low ones are what others on the
# machine take first, and a server there may be stopped or replaced under this run.
display=""
for _ in $(seq 20); do
  candidate=$((100 + RANDOM % 800))
  [ -e "/tmp/.X$candidate-lock" ] || [ -e "/tmp/.X11-unix/X$candidate" ] && continue
  Xvfb ":$candidate" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do
    kill -0 "$xvfb" 2>/dev/null || break # the number was taken after all
    xdpyinfo -display ":$candidate" >/dev/null 2>&1 && { display=$candidate; break; }
    sleep 0.1
  done
  [ -n "$display" ] && break
  stop "$xvfb"
  xvfb=""
done
[ -n "$display" ] || { echo "Xvfb did not start"; cat "$out/xvfb.log"; exit 1; }
export DISPLAY=:$display
gdnc --no-fork >"$private/gdnc.log" 2>&1 &
gdnc=$!
sleep 0.5
echo "display $DISPLAY, Xvfb $xvfb, gdnc $gdnc"

# A file offered to the running test build, as a drop would (MIDI_UPDATER_OPEN_AGAIN).
offer() { # PATH, once the log so far is read
  from=$(($(wc -l <"$log") + 1))
  printf '%s\n' "$1" >"$MIDI_UPDATER_OPEN_AGAIN.new"
  mv "$MIDI_UPDATER_OPEN_AGAIN.new" "$MIDI_UPDATER_OPEN_AGAIN"
}

# E2E_ONLY=WORD runs only the stages whose title has WORD.
stage() {
  [[ -z ${E2E_ONLY:-} || $1 == *"$E2E_ONLY"* ]] || return 1
  echo "--- $1"
}

if stage "an update the device accepts"; then
export MIDI_UPDATER_SIMULATE='--device-status accept --device-version 1.05'
export MIDI_UPDATER_OPEN=$here/Example.upd
launch accept midi-updater-mac-test
check "window shown" running
check "message panel" wait_panel Alert 20
shot 1-message
check "message text" wait_logged "Keep it powered until 100% are sent." 1
check "message answered" answer Alert
check "product shown" wait_logged "Product name:   Example Synth" 5
check "progress measured" wait_logged_regex 'Progress: 0\.[0-9]*[1-9]' 20
shot 2-progress
check "completed sheet" wait_panel Alert 60
shot 3-completed
check "success text" logged "Completed: The 'Example Synth' was updated sucessfully to version 1.05."
check "bar full" logged "Progress: 1"
# The job thread's end is not held up by the sheet, which here runs modally.
check "job ended under the sheet" wait_logged "Update thread done" 10
check "sheet answered" answer Alert
shot 3-done
check "bar full on screen" bar_full 3-done
check "device got every byte" logged "Device: device received 2 portions, 21.7KB, identical"
check "closing the window ends it" close_window
stop "$app"

fi

if stage "a plain SysEx file"; then
export MIDI_UPDATER_SIMULATE='--device-status accept'
export MIDI_UPDATER_OPEN=$here/Plain.syx
launch plain-sysex midi-updater-mac-test
check "standard instructions shown" wait_panel Alert 20
shot 4-sysex-message
check "product named for SysEx" logged "Product name:   <SysEx Update Device>"
check "instructions answered" answer Alert
check "completed sheet" wait_panel Alert 60
check "success text" logged "Completed: The '<SysEx Update Device>' was updated sucessfully to version 0.00."
check "sheet answered" answer Alert
check "device got every byte" wait_logged "Device: device received 1 portion" 10
check "quits when idle" quit
stop "$app"
fi

if stage "every file the reader refuses, then an update"; then
# One running program is offered each file in turn, as drops would: each must end in its
# alert, the window idle again and taking the next file, and the last an update.
table=$private/bad-files.tsv
write_table() { "$here/../bad-files/make.sh" "$private/bad" "$cli" >"$table"; }
check "bad files written" write_table
mapfile -t rows <"$table"
export MIDI_UPDATER_SIMULATE='--device-status accept --device-version 1.05'
first=${rows[0]:-}
export MIDI_UPDATER_OPEN=${first%%$'\t'*} MIDI_UPDATER_OPEN_AGAIN=$private/open-next
its_reason() { # REASON, in the alert and the status line
  said "Alert: Update failed for reason:" "$1" && wait_said "Error: Update failed for reason:" "$1" 5
}
answered_and_idle() { answer Alert && running && ! logged "Already performing an update." &&
  xdotool search --onlyvisible --name '^MIDI Updater$' >/dev/null; }
launch bad-files midi-updater-mac-test
check "window shown" running
for row in "${rows[@]}"; do
  file=${row%%$'\t'*} reason=${row#*$'\t'}
  name=$(basename "$file")
  [ "$file" = "$MIDI_UPDATER_OPEN" ] || offer "$file"
  check "$name: taken" wait_logged "Update file: $file" 10
  check "$name: failure alert" wait_panel Alert 20
  shot "5-failed-$name"
  check "$name: its reason, in the alert and the status line" its_reason "$reason"
  check "$name: job ended under the alert" wait_logged "Update thread done" 10
  check "$name: alert answered, window idle" answered_and_idle
  check "$name: reason left in the status line" reason_shown "5-idle-$name"
done
offer "$here/Example.upd"
check "then an update: taken" wait_logged "Update file: $here/Example.upd" 10
check "message panel" wait_panel Alert 20
check "message answered" answer Alert
check "completed sheet" wait_panel Alert 60
shot 5-then-completed
check "success text" logged "Completed: The 'Example Synth' was updated sucessfully to version 1.05."
check "sheet answered" answer Alert
check "device got every byte" wait_logged "Device: device received 2 portions, 21.7KB, identical" 10
check "quits when idle" quit
stop "$app"
unset MIDI_UPDATER_OPEN MIDI_UPDATER_OPEN_AGAIN MIDI_UPDATER_SIMULATE
fi

if stage "a quit and a second file during an update"; then
# The device comes late, so the job is still waiting for it while the user acts.
export MIDI_UPDATER_SIMULATE='--device-status accept --device-appears-after 9000'
export MIDI_UPDATER_OPEN=$here/Example.upd MIDI_UPDATER_OPEN_AGAIN=$private/open-again
launch busy midi-updater-mac-test
check "message panel" wait_panel Alert 20
check "message answered" answer Alert
check "waiting for the device" wait_logged "Status: Looking for Example Synth to update..." 10
sleep 0.5
shot 6-waiting
check "bar spinning on screen" bar_spinning 6-waiting
command_key q
check "quit asks" wait_panel Alert 10
shot 7-quit-asked
check "kept running" answer Alert
check "still running" running
touch "$MIDI_UPDATER_OPEN_AGAIN"
check "second file refused" wait_panel Alert 10
shot 8-already
check "refusal text" logged "Alert: Already performing an update."
# Left open: the job's reports still reach the window, and its end, as on a Mac.
check "job ended under the alert" wait_logged "Update thread done" 40
check "refusal answered" answer Alert
check "completed after all" wait_panel Alert 10
check "success text" logged "Completed: The 'Example Synth' was updated sucessfully to version 1.05."
check "sheet answered" answer Alert
check "quits when idle" quit
stop "$app"
unset MIDI_UPDATER_OPEN MIDI_UPDATER_OPEN_AGAIN MIDI_UPDATER_SIMULATE
fi

# "Close" in the quit question, the button left of the default one.
click_close() {
  eval "$(xdotool getwindowgeometry --shell "$(panel Alert)")"
  xdotool mousemove $((X + 181)) $((Y + 162)) click 1 sleep 0.5 click 1
}

if stage "closing during an update"; then
export MIDI_UPDATER_SIMULATE='--device-status accept --device-appears-after 60000'
export MIDI_UPDATER_OPEN=$here/Example.upd MIDI_UPDATER_LIST_MENUS=1
launch close-busy midi-updater-mac-test
# The standard menus as the program loaded them from its interface file.
menus() {
  cat <<'MENUS'
MIDI Updater > About MIDI Updater |  | aboutDialogue:
MIDI Updater > Hide MIDI Updater | cmd+h | hide:
MIDI Updater > Hide Others | opt+cmd+h | hideOtherApplications:
MIDI Updater > Show All |  | unhideAllApplications:
MIDI Updater > Quit MIDI Updater | cmd+q | terminate:
File > Open… | cmd+o | openDocument:
File > Close | cmd+w | performClose:
Edit > Undo | cmd+z | undo:
Edit > Redo | cmd+Z | redo:
Edit > Cut | cmd+x | cut:
Edit > Copy | cmd+c | copy:
Edit > Paste | cmd+v | paste:
Edit > Select All | cmd+a | selectAll:
Window > Minimize | cmd+m | performMiniaturize:
Window > Zoom |  | performZoom:
Window > Bring All to Front |  | arrangeInFront:
Help > MIDI Updater Help | cmd+? | showHelp:
MENUS
}
all_menus() {
  local item
  while IFS= read -r item; do
    grep -qF -- "Menu: $item" "$log" || { echo "        missing: $item"; return 1; }
  done < <(menus)
}
check "message panel" wait_panel Alert 20
check "standard menus with their keys" all_menus
check "message answered" answer Alert
check "waiting for the device" wait_logged "Status: Looking for Example Synth to update..." 10
# File > Close, as a Mac user would (the Command key is Alt here): asks as the close box.
command_key w
check "Close (cmd+W) asks" wait_panel Alert 10
xdotool windowfocus --sync "$(panel Alert)" key Escape
sleep 1
check "Escape keeps the update running" \
  eval 'running && logged "Kept running during the update" && [ -z "$(panel Alert)" ]'
command_key q
check "quit (cmd+Q) asks" wait_panel Alert 10
click_close
check "ends at once, job and all" exited 10
check "said so first" logged "Closing during the update: it ends with the program"
stop "$app"
unset MIDI_UPDATER_OPEN MIDI_UPDATER_SIMULATE MIDI_UPDATER_LIST_MENUS
fi

if stage "quits during updates in a row"; then
# Each run is quit at another moment of its update (looking for the device, or polling a
# device that never answers after its portion): the job's thread is alive and working
# when the program ends, however long the machine takes to pass on the key.
export MIDI_UPDATER_OPEN=$here/Example.upd
quits=${E2E_QUITS:-20}
clean=0
for run in $(seq "$quits"); do
  if [ $((run % 2)) -eq 0 ]; then
    export MIDI_UPDATER_SIMULATE="--device-status accept --device-appears-after $((3000 + run * 100))"
  else
    export MIDI_UPDATER_SIMULATE="--device-status silent"
  fi
  launch "quit-$run" midi-updater-mac-test || break
  wait_panel Alert 20 && answer Alert || break
  sleep "0.$((run % 4))"
  command_key q
  wait_panel Alert 10 && click_close || break
  exited 10 && ! grep -qiE 'segmentation|abort|exception' "$log" &&
    logged "Closing during the update" && clean=$((clean + 1))
  stop "$app"
  app=""
done
stop "$app"
echo "  $clean of $quits quits during an update ended cleanly"
check "every quit during an update ends cleanly, status 0" [ "$clean" -eq "$quits" ]
unset MIDI_UPDATER_OPEN MIDI_UPDATER_SIMULATE
fi

if stage "a failure under another panel"; then
# Two files at launch: the second is refused while the first is being read, and the
# first's failure comes while that refusal is on screen. Both are shown, in order.
export MIDI_UPDATER_OPEN=$here/Example.upd
launch under-panel midi-updater-mac-test -GSFilePath "$here/NotAnUpdate.upd"
check "refusal shown" wait_panel Alert 20
check "the failure came under it" wait_said "Alert: Update failed for reason:" \
  "Update file was invalid (bad header)." 10
check "refusal answered" answer Alert
check "then the failure shown" wait_panel Alert 10
shot 9-failure-after-refusal
check "failure answered" answer Alert
sleep 0.5
check "no panel left" [ -z "$(panel Alert)" ]
check "its reason left in the status line" reason_shown 9-idle-after-both
check "quits when idle" quit
stop "$app"
unset MIDI_UPDATER_OPEN
fi

if stage "30 updates in a row"; then
# One running program takes good and bad files in turn, each to its panels and an idle
# window; its resident memory is read after each. The image of OversizedImage.upd claims
# 20000 x 20000 pixels: it is left out and the update goes on.
export MIDI_UPDATER_SIMULATE='--device-status accept'
soak_files=("$here/Example.upd" "$here/NotAnUpdate.upd" "$here/Plain.syx"
  "$private/no-such-file.upd" "$here/OversizedImage.upd" "$here/NotAnUpdate.upd")
# What each ends with, after the update's message for the good ones.
soak_ends=("Completed:" "Alert: Update failed" "Completed:" "Alert: Update failed" "Completed:"
  "Alert: Update failed")
export MIDI_UPDATER_OPEN=${soak_files[0]} MIDI_UPDATER_OPEN_AGAIN=$private/soak-next
launch soak midi-updater-mac-test
program=$(pgrep -P "$app")
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$program/status"; }
no_panel() {
  local deadline=$((SECONDS + 5))
  while [ -n "$(panel Alert)" ]; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
settled() { # FILE END: its panels answered in turn, then the job ended and the window idle
  wait_logged "Update file: $1" 10 || return 1
  if [ "$2" = "Completed:" ]; then
    wait_panel Alert 20 && answer Alert && wait_logged "Message read" 5 || return 1
  fi
  wait_logged "$2" 30 && wait_panel Alert 10 && answer Alert && no_panel &&
    wait_logged "Update thread done" 10 && running && ! logged "Already performing an update."
}
soak_runs=${E2E_SOAK:-30}
settled_runs=0
sizes=()
for run in $(seq "$soak_runs"); do
  index=$(((run - 1) % ${#soak_files[@]}))
  [ "$run" -eq 1 ] || offer "${soak_files[$index]}"
  settled "${soak_files[$index]}" "${soak_ends[$index]}" || { echo "  run $run (${soak_files[$index]}) did not settle"; break; }
  [ "$index" -ne 4 ] || logged "beyond 4096 x 4096; left out" || { echo "  huge image not refused"; break; }
  settled_runs=$((settled_runs + 1))
  sizes+=("$(rss)")
done
echo "  resident memory (KiB) after each update: ${sizes[*]}"
check "$soak_runs updates in a row, each to its panels and an idle window" \
  [ "$settled_runs" -eq "$soak_runs" ]
# The bound: after the first six (fonts, panels and the device's code loaded once),
# growth by the last stays under 4 MiB, and the whole under 160 MiB.
within_bound() {
  local first=${sizes[5]:-0} last=${sizes[${#sizes[@]} - 1]:-0}
  echo "  after 6: $first KiB, after $soak_runs: $last KiB, growth $((last - first)) KiB"
  [ "$first" -gt 0 ] && [ $((last - first)) -lt 4096 ] && [ "$last" -lt $((160 * 1024)) ]
}
check "resident memory within its bound" within_bound
check "quits when idle" quit
stop "$app"
unset MIDI_UPDATER_OPEN MIDI_UPDATER_OPEN_AGAIN MIDI_UPDATER_SIMULATE
fi

if stage "the program opens a file handed to it"; then
launch open-file midi-updater-mac -GSFilePath "$here/NotAnUpdate.upd"
check "failure alert" wait_panel Alert 20
shot 9-program-open-file
check "file opened" logged "Update file: $here/NotAnUpdate.upd"
check "alert answered" answer Alert
check "quits when idle" quit
stop "$app"
fi

if stage "the program's menus: Open… and About"; then
# The open panel starts in the working folder; the update files are listed there, by name.
cd "$here"
launch menus midi-updater-mac
# Again if nothing comes: on a busy machine the first key may come before the window
# takes keys (a second Open… while the panel is up does nothing).
open_panel() {
  for _ in 1 2 3; do
    command_key o
    wait_panel Open 5 && return 0
  done
  return 1
}
check "open panel" open_panel
shot 10-open-panel
# A double click on the second file listed, NotAnUpdate.upd, as a user would.
eval "$(xdotool getwindowgeometry --shell "$(panel Open)")"
echo "open panel at $X,$Y"
sleep 1
xdotool mousemove $((X + 289)) $((Y + 141)) click 1 sleep 0.5 click --repeat 2 --delay 80 1
check "file chosen" wait_logged "Update file: $here/NotAnUpdate.upd" 10
check "failure alert" wait_panel Alert 10
check "alert answered" answer Alert
check "about panel" about
shot 11-about
check "quits when idle" quit
stop "$app"
cd - >/dev/null
fi

echo "screenshots and logs: $out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
