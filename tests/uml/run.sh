#!/usr/bin/env bash
# Runs a command as root inside the user-mode Linux kernel that build-kernel.sh built,
# with the host's file system as its root, and exits with the command's status:
#   tests/uml/run.sh BUILD_DIR SECONDS COMMAND [ARGS...]
# The kernel has its own /proc, /sys, /dev (devtmpfs: /dev/snd/seq, /dev/snd/midiC*),
# /dev/shm and /tmp; the command runs in the caller's directory. After SECONDS of wall
# clock the kernel's processes are stopped by their PIDs and the run fails (124).
set -euo pipefail

build=$(realpath "${1:?usage: run.sh BUILD_DIR SECONDS COMMAND...}")
seconds=${2:?}
shift 2
kernel=$build/uml/linux
[ -x "$kernel" ] || { echo "run.sh: no kernel at $kernel (tests/uml/build-kernel.sh)" >&2; exit 1; }

mkdir -p "$build/uml/runs"
run=$(mktemp -d "$build/uml/runs/run.XXXXXX")
trap 'rm -rf "$run"' EXIT
command=$(printf '%q ' "$@")
# A /tmp of the kernel's own, unless the build or the caller lives in the host's /tmp.
tmp_mount="mount -t tmpfs tmp /tmp"
[[ $build == /tmp/* || $PWD == /tmp/* ]] && tmp_mount=":"
cat >"$run/init" <<INIT
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/shm
mount -t tmpfs shm /dev/shm
$tmp_mount
mount -t configfs none /sys/kernel/config 2>/dev/null
export PATH='$PATH' HOME=/tmp TMPDIR=/tmp LANG=C.UTF-8
cd '$PWD'
$command >'$run/output' 2>&1
echo \$? >'$run/status.tmp'
mv '$run/status.tmp' '$run/status'
echo o >/proc/sysrq-trigger
INIT
chmod +x "$run/init"

# Memory is a sparse file the kernel fills only as it touches it.
"$kernel" mem=1024M root=/dev/root rootfstype=hostfs rootflags=/ rw init="$run/init" \
  uml_dir="$run" umid=uml con=null con0=fd:0,fd:1 </dev/null >"$run/console" 2>&1 &
pid=$!

descendants() {
  local child
  for child in $(pgrep -P "$1" || true); do
    echo "$child"
    descendants "$child"
  done
}

deadline=$((SECONDS + seconds))
# (The kernel ends with SIGABRT after its power-off; that is no news.)
while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
  sleep 0.2
done 2>/dev/null
status=124
if kill -0 "$pid" 2>/dev/null; then
  echo "run.sh: still running after $seconds s; stopping the kernel" >&2
  pids=$(descendants "$pid")
  kill -KILL "$pid" $pids 2>/dev/null || true
  { wait "$pid"; } 2>/dev/null || true
else
  { wait "$pid"; } 2>/dev/null || true
  [ -f "$run/status" ] && status=$(cat "$run/status")
fi
cat "$run/output" 2>/dev/null || true
if [ ! -f "$run/status" ]; then
  echo "run.sh: the command did not finish inside the kernel; its console:" >&2
  tail -n 40 "$run/console" >&2
fi
exit "$status"
