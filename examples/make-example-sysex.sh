#!/usr/bin/env bash
# Writes a made-up SysEx file for the demonstration: COUNT messages
#   F0 7D <part> <message number> <32 data bytes> F7
# (7D is the manufacturer ID set aside for non-commercial use, so no real device
# takes these for its own).
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 OUT.syx PART COUNT" >&2
  exit 2
fi
out=$1
part=$2
count=$3

bytes=""
for ((n = 0; n < count; n++)); do
  printf -v hex '\\xf0\\x7d\\x%02x\\x%02x' $((part & 0x7f)) $((n & 0x7f))
  bytes+=$hex
  for ((i = 0; i < 32; i++)); do
    printf -v hex '\\x%02x' $(((n * 31 + i * 7 + part) & 0x7f))
    bytes+=$hex
  done
  bytes+='\xf7'
done
printf "$bytes" >"$out"
