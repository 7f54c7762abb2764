#!/usr/bin/env bash
# Writes one file on disk for every way the update reader can refuse one, and prints a
# line per file: its path, a tab, and the reason the programs must show for it. Both
# desktop programs' end-to-end checks take the same table.
#
# usage: tests/bad-files/make.sh OUT_DIR CLI
#   CLI is midi-updater-cli, used to write the good update the damaged ones start from.
# Not here: "Failed to load all of the sysex file", which needs a file that shrinks
# while it is read.
set -euo pipefail
out=$1
cli=$2
mkdir -p "$out"

bad_header="Update file was invalid (bad header)."
truncated="Update file was truncated. Did it download correctly?"

{ printf '\xf0\x7d\x01' && head -c 300 /dev/zero | tr '\000' '\021' && printf '\xf7'; } >"$out/part.syx"
"$cli" pack -q -o "$out/good.upd" --product "Example Synth" --version 1.05 \
  --portion "$out/part.syx@100"
size=$(stat -c %s "$out/good.upd")

row() { printf '%s\t%s\n' "$out/$1" "$2"; }

printf 'These are my notes, not an update.\n' >"$out/notes.upd"
row notes.upd "$bad_header"
: >"$out/empty.upd"
row empty.upd "$bad_header"
# Looks like SysEx but never ends a message, so it is read as an update file.
head -c 200 "$out/part.syx" >"$out/unended.syx"
row unended.syx "$bad_header"
# Gone between being chosen and being read: not a bad file, one that cannot be opened
# (the path as each program names it).
row missing.upd "cannot open $out/missing.upd (No such file or directory)"
# The format number follows the 14-byte magic.
{ head -c 14 "$out/good.upd" && printf '\x05\x00' && tail -c +17 "$out/good.upd"; } >"$out/newer-format.upd"
row newer-format.upd "Update file is wrong version. Please check you have the latest version of the updater."
# Inside the product name.
head -c 24 "$out/good.upd" >"$out/header-cut.upd"
row header-cut.upd "$truncated"
# Inside the portion's data, then inside the pause that follows it.
head -c $((size - 10)) "$out/good.upd" >"$out/portion-cut.upd"
row portion-cut.upd "Trucated sysex"
head -c $((size - 2)) "$out/good.upd" >"$out/pause-cut.upd"
row pause-cut.upd "$truncated"
# A record kind this updater does not know, after a complete one.
{ cat "$out/good.upd" && printf '\x09\x00\x00\x00\x00\x00\x00\x00'; } >"$out/unknown-record.upd"
row unknown-record.upd "File contains unrecognised data. Please Please check you have the latest version of the updater."
rm -f "$out/part.syx"
