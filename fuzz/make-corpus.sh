#!/usr/bin/env bash
# Writes the reader fuzzer's seed files into fuzz/corpus/UpdateReaderFuzz/: a few small
# update files and SysEx files that reach every record kind and the main rejections.
set -euo pipefail
cd "$(dirname "$0")/corpus/UpdateReaderFuzz"

magic='VornUpdateFile\x04\x00'
u32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
text() { printf '%s%s' "$(u32 ${#1})" "$1"; }
header() { # product, major, minor, message
  printf '%s%s\\x%02x\\x00\\x%02x\\x00%s\\x07\\x00\\x08\\x00\\x09\\x00' "$magic" "$(text "$1")" "$2" "$3" "$(text "$4")"
}
portion() { printf '\\x01\\x00\\x00\\x00%s%s%s' "$(u32 $(($(printf "$1" | wc -c))))" "$1" "$(u32 "$2")"; }
record() { printf '%s%s' "$(u32 "$1")" "$(text "$2")"; }

printf "$(header X 1 5 '')" > header-only.upd
printf "$(header AB 1 5 '<sysex>')$(portion '\xf0\x7e\xf7' 200)$(record 5 'A$B')" > small.upd
printf "$(header 'Synth 9' 3 42 'Read me')$(record 2 'PNG')$(portion '\xf0\x00\x20\x33\x01\xf7' 1500)$(record 3 'win:1:name:P1$P2:ideal:512:max:1024:delay:50:unprepdelay:20:chunks:no')$(record 5 'M1$$M2$')$(portion '' 0)" > every-record.upd
printf "$(header 'X' 1 0 '')\x04\x00\x00\x00" > unknown-tag.upd
printf "$(header 'X' 1 0 '')\x01\x00\x00\x00\x10\x00\x00\x00\xf0\x01" > truncated-sysex.upd
printf '\xf0\x7e\x7f\x06\x01\xf7\xf0\x43\x10\xf7' > plain.syx
