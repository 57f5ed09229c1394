#!/bin/bash
# Cross-builds the Windows code paths with mingw-w64 into build-win/ and runs
# their tests under Wine, the serial port ones against the register emulator
# built for this machine. Exits non-zero on any failure.
#   ORMANT_HOST_EMULATOR  ormant-emu to use (default: build/ or build-emu/, else
#                         built into build-emu/)
#   ORMANT_WIN_BUILD      build folder (default build-win)
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
Build=${ORMANT_WIN_BUILD:-$Root/build-win}

for Tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres cmake ninja; do
    if ! command -v "$Tool" >/dev/null; then
        echo "test-windows.sh: $Tool is missing (apt-get install g++-mingw-w64-x86-64 cmake ninja-build)" >&2
        exit 1
    fi
done
if [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null && ! command -v wine >/dev/null; then
    echo "test-windows.sh: Wine is missing (apt-get install wine64)" >&2
    exit 1
fi

Emulator=${ORMANT_HOST_EMULATOR:-}
if [ -z "$Emulator" ]; then
    for Candidate in "$Root/build/emulator/ormant-emu" "$Root/build-emu/emulator/ormant-emu"; do
        if [ -x "$Candidate" ]; then
            Emulator=$Candidate
            break
        fi
    done
fi
if [ -z "$Emulator" ]; then
    echo "== building the register emulator for this machine in build-emu/"
    cmake -S "$Root" -B "$Root/build-emu" -G Ninja -DORMANT_WITH_QT=OFF
    cmake --build "$Root/build-emu" -j2 --target ormant-emu
    Emulator=$Root/build-emu/emulator/ormant-emu
fi
Emulator=$(realpath "$Emulator")

echo "== cross-building for Windows in $Build"
cmake -S "$Root" -B "$Build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$Root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Debug \
    -DORMANT_WITH_QT=OFF \
    -DORMANT_WERROR="${ORMANT_WERROR:-ON}" \
    -DORMANT_HOST_EMULATOR="$Emulator"
cmake --build "$Build" -j2

echo "== testing under Wine"
ctest --test-dir "$Build" --output-on-failure -j2
