#!/bin/bash
# Builds and runs every test: the program's own (unit, emulator, window) and
# the Windows code paths cross-built with mingw-w64 and run under Wine.
#   --sanitize   the program's tests once more with AddressSanitizer and
#                UndefinedBehaviorSanitizer, in build-asan/
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
Build=${ORMANT_BUILD:-$Root/build}

"$Root/scripts/setup.sh" --windows

cmake -S "$Root" -B "$Build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORMANT_WERROR=ON
cmake --build "$Build" -j2
ctest --test-dir "$Build" --output-on-failure -j2

ORMANT_HOST_EMULATOR="$Build/emulator/ormant-emu" "$Root/scripts/test-windows.sh"

if [ "${1:-}" = "--sanitize" ]; then
    echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    cmake -S "$Root" -B "$Root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DORMANT_WERROR=ON -DORMANT_SANITIZE=ON
    cmake --build "$Root/build-asan" -j2
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir "$Root/build-asan" --output-on-failure -j2
fi
