#!/usr/bin/env bash
# Compiles the Mac sources with clang, as Apple's compiler would, warnings as errors:
# the Mac program, its MIDI port, the library's Mac body, the framework stand-ins and
# the Mac tests. Syntax and semantics only (-fsyntax-only): GNUstep's headers with GCC's
# Objective-C runtime headers, which is what the gnustep preset links. gobjc++ accepts
# some things clang rejects; this catches them here before a Mac build does.
set -euo pipefail
cd "$(dirname "$0")/.."

gccObjcHeaders=$(gcc -print-file-name=include)
[ -f "$gccObjcHeaders/objc/objc.h" ] || { echo "no GCC Objective-C headers (gobjc++)"; exit 1; }
common=(-fsyntax-only -std=c++17 -Wall -Wextra -Werror -fexceptions
  -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1 -D_NATIVE_OBJC_EXCEPTIONS
  -I. -IStand-ins/CoreFoundation/include -IStand-ins/CoreMIDI/include -IStand-ins/ImageIO/include
  -DMAC_INFO_PLIST='"Info.plist"' -DMAC_DEPLOYMENT_TARGET='"10.13"' # as the tests' CMake file sets
  -isystem /usr/include/GNUstep -isystem "$gccObjcHeaders")
objc=(-x objective-c++ -fobjc-runtime=gcc -fobjc-exceptions -fconstant-string-class=NSConstantString)

failed=0
count=0
for source in Application/*.mm MidiUpdateLib/*_Mac.mm MidiUpdateLib/*_Mac.cpp \
  Stand-ins/CoreFoundation/*.mm Stand-ins/CoreMIDI/*.mm Stand-ins/CoreMIDI/*.cpp \
  Stand-ins/ImageIO/*.mm tests/*.mm; do
  count=$((count + 1))
  case $source in
  *.mm) flags=("${objc[@]}" "${common[@]}") ;;
  *) flags=(-x c++ "${common[@]}") ;;
  esac
  if ! clang++ "${flags[@]}" "$source"; then
    echo "clang: $source"
    failed=$((failed + 1))
  fi
done
echo "clang -Wall -Wextra -Werror: $count Mac sources, $failed failed"
[ "$failed" -eq 0 ]
