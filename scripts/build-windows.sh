#!/bin/bash
# Builds the Windows program for both bitnesses with mingw-w64 (the presets
# win32 and win64: Release) in build-win32/ and build-win64/, and puts each, stripped, in
# dist/win32/ormant-timeout.exe and dist/win64/ormant-timeout.exe; the bench
# kit's tools go to dist/kit/win32/ and dist/kit/win64/.
# Each .exe is linked -static: it imports system DLLs only and runs copied
# alone to the operator's machine.
#   ORMANT_WERROR  ON (default) or OFF
#   ORMANT_WIN32_BUILD, ORMANT_WIN64_BUILD  other build folders (two runs at
#                  once must not share one)
#   ORMANT_DIST    another folder for the programs (default dist/)
#   ORMANT_BUILD_TARGETS  only these targets (default all, the tests included)
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
. "$Root/scripts/lib/common.sh"
Dist=${ORMANT_DIST:-$Root/dist}

for Arch in i686 x86_64; do
    for Tool in $Arch-w64-mingw32-g++-posix $Arch-w64-mingw32-windres $Arch-w64-mingw32-strip; do
        if ! command -v "$Tool" >/dev/null; then
            echo "build-windows.sh: $Tool is missing (apt-get install g++-mingw-w64-${Arch/_/-}-posix)" >&2
            exit 1
        fi
    done
done

for Bits in 32 64; do
    if [ $Bits = 32 ]; then Arch=i686; else Arch=x86_64; fi
    Build=$(ormant_win_build "$Root" $Bits)
    echo "== building the $Bits-bit program in $Build"
    (cd "$Root" && cmake --preset win$Bits -B "$Build" -DORMANT_WERROR="${ORMANT_WERROR:-ON}")
    # shellcheck disable=SC2086 # a list of target names
    cmake --build "$Build" -j2 ${ORMANT_BUILD_TARGETS:+--target $ORMANT_BUILD_TARGETS}
    mkdir -p "$Dist/win$Bits"
    # strip puts the time it runs in the PE header (the linker is told not
    # to), or SOURCE_DATE_EPOCH: the commit's, so the same commit gives the
    # same bytes wherever and whenever it is built.
    Strip=(env SOURCE_DATE_EPOCH="$(ormant_release_epoch "$Root")" $Arch-w64-mingw32-strip)
    "${Strip[@]}" -o "$Dist/win$Bits/ormant-timeout.exe" "$Build/app/ormant-timeout.exe"
    Imports=$($Arch-w64-mingw32-objdump -p "$Dist/win$Bits/ormant-timeout.exe" |
        sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
    echo "$Dist/win$Bits/ormant-timeout.exe: $(stat -c %s "$Dist/win$Bits/ormant-timeout.exe") bytes, imports $Imports"
    # The bench kit's tools (scripts/package.sh): the emulator, the report and
    # the stand-in driver, for a tester, never for operators.
    mkdir -p "$Dist/kit/win$Bits"
    for Tool in emulator/ormant-emu.exe bench/ormant-report.exe standin/ormant-standin.dll; do
        "${Strip[@]}" -o "$Dist/kit/win$Bits/$(basename "$Tool")" "$Build/$Tool"
    done
done
