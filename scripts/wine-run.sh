#!/usr/bin/env bash
# Runs a Windows program of a cross-build under Wine, quietly and headless:
#   wine-run.sh PROGRAM.exe [ARGS...]   run it (starting the build's Wine first if needed)
#   wine-run.sh --start [BUILD_DIR]     create the build's Wine prefix and start its server
#   wine-run.sh --stop [BUILD_DIR]      stop the build's Wine server
# Each build folder has a private prefix (BUILD_DIR/wine), so builds and other users of
# Wine on the machine do not meet. The server is kept running between programs: starting
# one per program is slow and makes clients fail at random ("Connection reset by peer").
set -euo pipefail

wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

# The folder holding CMakeCache.txt above `start`, else `start` itself.
build_dir_of() {
  local dir
  dir=$(cd "$1" && pwd)
  local probe=$dir
  while [ "$probe" != / ]; do
    [ -f "$probe/CMakeCache.txt" ] && { echo "$probe"; return; }
    probe=$(dirname "$probe")
  done
  echo "$dir"
}

use_prefix() {
  export WINEPREFIX=${WINEPREFIX:-$1/wine}
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  # No .NET or browser engine: their installers would run on the first start.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINELOADER=$wine64
  export DISPLAY=${DISPLAY:-}
}

start() {
  mkdir -p "$WINEPREFIX"
  # Two programs starting at once must not both create the prefix.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  # 30 s of grace keeps the server alive between one test program and the next.
  "$wineserver" -p30 </dev/null >/dev/null 2>&1 || true
  # Creates the prefix the first time, and starts Wine's own services every time, with
  # no terminal or pipe of ours: a service holding a test's output open would keep the
  # test running until the server goes.
  "$wine64" wineboot </dev/null >/dev/null 2>&1
  flock -u 9
  exec 9>&-
}

stop() {
  [ -d "$WINEPREFIX" ] || return 0
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  "$wineserver" -w </dev/null >/dev/null 2>&1 || true
}

case "${1:-}" in
  --start)
    use_prefix "$(build_dir_of "${2:-.}")"
    start
    ;;
  --stop)
    use_prefix "$(build_dir_of "${2:-.}")"
    stop
    ;;
  "")
    echo "usage: $0 PROGRAM.exe [ARGS...] | --start [BUILD_DIR] | --stop [BUILD_DIR]" >&2
    exit 2
    ;;
  *)
    program=$1
    shift
    use_prefix "$(build_dir_of "$(dirname "$program")")"
    start
    exec "$wine64" "$program" "$@"
    ;;
esac
