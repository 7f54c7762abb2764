# shellcheck shell=bash disable=SC2034
# Sourced by the checks that drive Windows programs under Wine on a virtual X display:
# a work folder, Xvfb, a Wine prefix and server of their own (stopped by PID on exit),
# the pass/fail count and the helpers that wait for windows and take screenshots.
#
#   source wine-desktop.sh; wine_desktop_start WORK_PREFIX
#
# Sets work, DISPLAY, WINEPREFIX and the other Wine variables; a script adds what it
# starts itself to programPids, which the exit handler ends.

wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
desktop=e2e,800x600

work=""
xvfbPid=""
serverPid=""
programPids=()

wine_desktop_cleanup() {
  local pid
  for pid in "${programPids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$serverPid" ]; then
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    kill "$serverPid" 2>/dev/null || true
    wait "$serverPid" 2>/dev/null || true
  fi
  if [ -n "$xvfbPid" ]; then
    kill "$xvfbPid" 2>/dev/null || true
    wait "$xvfbPid" 2>/dev/null || true
  fi
  [ -z "$work" ] || rm -rf "$work"
}

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }

# Runs a command every 0.1 s until it succeeds, for at most $1 seconds.
within() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Makes the work folder (/tmp/$1.XXXXXX), starts Xvfb and a Wine server on a fresh prefix.
wine_desktop_start() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  trap wine_desktop_cleanup EXIT
  trap "exit 143" TERM INT

  # The display: Xvfb picks a free number itself.
  local displayFd
  exec {displayFd}>"$work/display"
  Xvfb -displayfd "$displayFd" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfbPid=$!
  exec {displayFd}>&-
  within 10 test -s "$work/display" || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  export DISPLAY=:$(head -n 1 "$work/display")

  # Wine: a prefix of our own, and its server started by us so we know its PID. No
  # menu builder: it would write the prefix's shortcuts and file types into the home.
  export WINEPREFIX=$work/prefix
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export WINELOADER=$wine64
  mkdir -p "$WINEPREFIX"
  "$wineserver" -f -p </dev/null >/dev/null 2>&1 &
  serverPid=$!
  timeout 120 "$wine64" wineboot -i </dev/null >/dev/null 2>&1
}

# A Linux path as the program sees it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The ids of the top-level windows with exactly this title (X windows in the desktop).
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }

# Prints the newest window titled $1 when at least $2 are.
newest_of_at_least() {
  local ids
  ids=$(windows_named "$1")
  [ "$(printf '%s\n' "$ids" | grep -c .)" -ge "$2" ] && printf '%s\n' "$ids" | tail -n 1
}
at_most_named() { [ "$(windows_named "$1" | grep -c .)" -le "$2" ]; }
log_has() { tr -d '\r' <"$1" | grep -qF -- "$2"; }

# Waits up to $3 seconds until $2 windows are titled $1; prints the newest.
wait_for_windows() { within "$3" newest_of_at_least "$1" "$2"; }
# Waits up to $2 seconds until no more than $3 windows are titled $1.
wait_for_fewer() { within "$2" at_most_named "$1" "$3"; }
# Waits up to $2 seconds for a line containing $3 in log $1.
wait_for_log() { within "$2" log_has "$1" "$3"; }

# Screenshot $1.png of the whole display into $shots.
shot() { import -window root "$shots/$1.png"; }

# Presses keys in the window $1 (a box takes Return for its default button).
keys() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window" || true
  sleep 0.3 # a box that has just appeared may not have its focus yet
  xdotool key --clearmodifiers "$@"
}

# A process that ended stays a zombie until waited for.
running() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $state != Z* ]]
}
not_running() { ! running "$1"; }

# The PIDs of the processes running Windows program $1 (a pattern) in our prefix.
prefix_processes() {
  local pid
  for pid in $(pgrep -f "$1" || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      echo "$pid"
  done
}
