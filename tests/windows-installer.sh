#!/usr/bin/env bash
# The Windows installer under Wine, as a user meets it: a silent install, the file types
# and the uninstall entry in the registry, an .upd file opened through its association,
# and silent uninstalls, one of them after another program took .upd meanwhile.
#
#   windows-installer.sh BUILD_DIR MIDI_UPDATER_CLI [SCREENSHOT_DIR]
#
# BUILD_DIR is a Windows release build holding midi-updater-win-setup-VERSION.exe and
# midi-updater-win-VERSION.zip; the console program packs the update file. Screenshots
# go to SCREENSHOT_DIR (default BUILD_DIR/installer-screenshots). Prints "N passed, N
# failed" last; exit status 1 when a check failed. Everything it starts it stops by PID;
# its Wine prefix is removed.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR MIDI_UPDATER_CLI [SCREENSHOT_DIR]" >&2; exit 2; }
build=$(cd "$1" && pwd)
cli=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shots=${3:-$build/installer-screenshots}
setup=$(ls "$build"/midi-updater-win-setup-*.exe 2>/dev/null | head -n 1)
[ -f "$setup" ] || { echo "no installer in $build" >&2; exit 2; }
[ -x "$cli" ] || { echo "no $cli" >&2; exit 2; }
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)

# shellcheck source=tests/wine-desktop.sh
source "$(dirname "$0")/wine-desktop.sh"

version=$(basename "$setup" .exe)
version=${version#midi-updater-win-setup-}
progId=VornInstruments.MidiUpdater.upd
syxProgId=VornInstruments.MidiUpdater.syx
classes='HKLM\Software\Classes'
uninstallKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VornMidiUpdater'

# The manifests, read from the files: no Wine needed.
if grep -aq 'level="requireAdministrator"' "$setup" &&
  grep -aq 'level="asInvoker"' "$build/Windows/midi-updater-win.exe"; then
  pass "the installer asks for administrator rights, the program runs as its user"
else
  fail "the manifests: the installer must require an administrator, the program be asInvoker"
fi

# The portable zip: the same two files in one folder.
zip=$build/midi-updater-win-$version.zip
listing=$(cmake -E tar tf "$zip" 2>/dev/null | sort | tr '\n' ' ' || true)
if [ "$listing" = "midi-updater-win-$version/ midi-updater-win-$version/Header.png midi-updater-win-$version/midi-updater-win.exe " ]; then
  pass "the portable zip holds the program and its image in one folder"
else
  fail "the portable zip $zip holds: $listing"
fi

wine_desktop_start midi-updater-installer
folder="$WINEPREFIX/drive_c/Program Files/MIDI Updater"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/MIDI Updater.lnk"
installed='C:\Program Files\MIDI Updater\midi-updater-win.exe'
ours=("$folder/midi-updater-win.exe" "$folder/Header.png" "$folder/uninstall.exe" "$shortcut")

wine_reg() { "$wine64" reg "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# The data of value $2 of key $1 ("" for the default value); fails when there is none.
reg_value() {
  local out
  if [ -z "$2" ]; then out=$(wine_reg query "$1" /ve) || return 1; else out=$(wine_reg query "$1" /v "$2") || return 1; fi
  printf '%s\n' "$out" | sed -n 's/^    .*    REG_[A-Z_]*    \{0,1\}//p' | head -n 1
  printf '%s\n' "$out" | grep -q 'REG_'
}
key_exists() { wine_reg query "$1" >/dev/null; }
# Checks value $2 of key $1 against $3, saying what differs.
expect_value() {
  local got
  got=$(reg_value "$1" "$2") || { echo "no value '$2' in $1"; return 1; }
  [ "$got" = "$3" ] || { echo "$1 '$2' is '$got', not '$3'"; return 1; }
}

# Installs silently; status 0 and every file in place.
install() {
  "$wine64" "$(winpath "$setup")" /S </dev/null >/dev/null 2>&1 || { echo "the installer failed"; return 1; }
  all_in_place || return 1
  cmp -s "$folder/midi-updater-win.exe" "$build/Windows/midi-updater-win.exe" ||
    { echo "the installed program is not the build's"; return 1; }
}

all_in_place() {
  local file
  for file in "${ours[@]}"; do
    [ -f "$file" ] || { echo "no $file"; return 1; }
  done
}

# Uninstalls silently. The uninstaller runs a copy of itself from the temporary folder
# and returns at once, so wait for that copy to end.
uninstall() {
  "$wine64" "$(winpath "$folder/uninstall.exe")" /S </dev/null >/dev/null 2>&1 ||
    { echo "the uninstaller failed"; return 1; }
  within 30 test ! -e "$folder/uninstall.exe" || { echo "uninstall.exe is still there"; return 1; }
  within 30 no_uninstaller_running || { echo "the uninstaller did not end"; return 1; }
}
uninstaller_running() { [ -n "$(prefix_processes 'Au_\.exe')" ]; }
no_uninstaller_running() { ! uninstaller_running; }

# Nothing of ours is left: no file, no shortcut, no key, no value.
nothing_left() {
  local ok=0
  [ ! -e "$folder" ] || { echo "left: $(ls -A "$folder")"; ok=1; }
  [ ! -e "$shortcut" ] || { echo "left: the Start menu entry"; ok=1; }
  local key
  for key in "$classes\\$progId" "$classes\\$syxProgId" "$uninstallKey"; do
    ! key_exists "$key" || { echo "left: $key"; ok=1; }
  done
  ! reg_value "$classes\\.upd\\OpenWithProgids" "$progId" >/dev/null ||
    { echo "left: .upd's OpenWithProgids entry"; ok=1; }
  ! reg_value "$classes\\.syx\\OpenWithProgids" "$syxProgId" >/dev/null ||
    { echo "left: .syx's OpenWithProgids entry"; ok=1; }
  # .syx belonged to another tool before the install and still does.
  expect_value "$classes\\.syx" "" OtherSysExTool.syx || ok=1
  return $ok
}

# Another SysEx tool owns .syx before we install.
wine_reg add "$classes\\.syx" /ve /d OtherSysExTool.syx /f >/dev/null

# --- 1. A silent install.
ok=true
install || ok=false
if $ok; then
  pass "a silent install puts the program, its image, the uninstaller and the Start menu entry in place"
else
  fail "a silent install"
fi

# --- 2. What it registered.
ok=true
expect_value "$classes\\.upd" "" "$progId" || ok=false
expect_value "$classes\\.upd\\OpenWithProgids" "$progId" "" || ok=false
expect_value "$classes\\$progId\\shell\\open\\command" "" "\"$installed\" \"%1\"" || ok=false
expect_value "$classes\\$progId\\DefaultIcon" "" "\"$installed\",0" || ok=false
expect_value "$classes\\.syx\\OpenWithProgids" "$syxProgId" "" || ok=false
expect_value "$classes\\$syxProgId\\shell\\open\\command" "" "\"$installed\" \"%1\"" || ok=false
expect_value "$classes\\.syx" "" OtherSysExTool.syx || ok=false
expect_value "$uninstallKey" DisplayName "MIDI Updater" || ok=false
expect_value "$uninstallKey" DisplayVersion "$version" || ok=false
expect_value "$uninstallKey" Publisher "Vorn Instruments" || ok=false
expect_value "$uninstallKey" DisplayIcon "\"$installed\",0" || ok=false
expect_value "$uninstallKey" UninstallString '"C:\Program Files\MIDI Updater\uninstall.exe"' || ok=false
expect_value "$uninstallKey" QuietUninstallString '"C:\Program Files\MIDI Updater\uninstall.exe" /S' || ok=false
size=$(reg_value "$uninstallKey" EstimatedSize || true)
kib=$(($(du -sk "$folder" | cut -f1)))
# The size in KiB, as Apps & features shows it: within 10 % of the folder's.
if [[ $size =~ ^0x[0-9a-f]+$ ]] && [ $((size)) -ge $((kib * 9 / 10)) ] && [ $((size)) -le $((kib * 11 / 10)) ]; then
  :
else
  ok=false
  echo "EstimatedSize $size against $kib KiB installed"
fi
if $ok; then
  pass "the registry: .upd opens the program with \"%1\", .syx only offers it, the uninstall entry"
else
  fail "the registry after the install"
fi

# --- 3. Opening an update file through its association starts the installed program with it.
files="$work/my updates"
mkdir -p "$files"
{ printf '\xf0\x7d\x01' && head -c 600 /dev/zero | tr '\000' '\021' && printf '\367'; } >"$work/part.syx"
"$cli" pack -o "$files/Example Synth $version.upd" --product "Example Synth" --version "$version" \
  --message "Firmware $version for the Example Synth, opened from its file." \
  --windows-params 'win:1:name:Example Synth:ideal:256:max:512:delay:5:unprepdelay:5' \
  --portion "$work/part.syx" >/dev/null
# Windows in a virtual desktop, as the program's own checks run them.
wine_reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d e2e /f >/dev/null
wine_reg add 'HKCU\Software\Wine\Explorer\Desktops' /v e2e /d 800x600 /f >/dev/null
ok=true
timeout 120 "$wine64" start /unix "$files/Example Synth $version.upd" </dev/null >/dev/null 2>&1 &
programPids+=($!)
if box=$(wait_for_windows "Important message about update" 1 30); then
  shot installer-1-opened-by-association
  # The process runs the installed program, handed the file's path.
  commandLines=$(for pid in $(prefix_processes 'midi-updater-win\.exe'); do tr '\0' ' ' <"/proc/$pid/cmdline"; echo; done)
  if ! grep -qF 'C:\Program Files\MIDI Updater\midi-updater-win.exe' <<<"$commandLines"; then
    ok=false
    echo "not the installed program: $commandLines"
  fi
  keys "$box" Return
  # No device under Wine: the program keeps looking for it.
  if wait_for_fewer "Important message about update" 10 0 && wait_for_windows "MIDI Updater" 1 10 >/dev/null; then
    sleep 1
    shot installer-2-looking-for-the-device
  else
    ok=false
    echo "no busy window after the message"
  fi
  # Meanwhile a silent uninstall removes nothing: the running program could not go.
  "$wine64" "$(winpath "$folder/uninstall.exe")" /S </dev/null >/dev/null 2>&1 || true
  within 10 uninstaller_running || true # or it has been and gone
  within 30 no_uninstaller_running || { ok=false; echo "the uninstaller did not end"; }
  all_in_place || ok=false
  key_exists "$uninstallKey" || { ok=false; echo "the uninstall entry went while the program ran"; }
else
  ok=false
  echo "no window of the update file's message"
fi
for pid in $(prefix_processes 'midi-updater-win\.exe'); do kill "$pid" 2>/dev/null || true; done
within 10 test -z "$(prefix_processes 'midi-updater-win\.exe')" || true
if $ok; then
  pass "an .upd file opened through its association starts the installed program; while it runs, an uninstall removes nothing"
else
  fail "opening an .upd file through its association"
fi

# --- 4. A silent uninstall leaves nothing of ours, and no .upd association at all.
ok=true
uninstall || ok=false
nothing_left || ok=false
! key_exists "$classes\\.upd" || { ok=false; echo "left: the .upd key"; }
if $ok; then
  pass "a silent uninstall leaves no file and no key of ours"
else
  fail "a silent uninstall"
fi

# --- 5. Another program takes .upd after the install: the uninstall leaves it that.
ok=true
install || ok=false
wine_reg add "$classes\\OtherUpdater.upd\\shell\\open\\command" /ve /d 'other.exe "%1"' /f >/dev/null
wine_reg add "$classes\\.upd" /ve /d OtherUpdater.upd /f >/dev/null
uninstall || ok=false
nothing_left || ok=false
expect_value "$classes\\.upd" "" OtherUpdater.upd || ok=false
key_exists "$classes\\OtherUpdater.upd\\shell\\open\\command" || { ok=false; echo "the other program's type is gone"; }
if $ok; then
  pass "an uninstall leaves .upd to the program that took it meanwhile"
else
  fail "an uninstall after another program took .upd"
fi

echo "Screenshots: $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
