#!/bin/bash
# Builds and runs every test: the program's own (unit, emulator, window) and
# the Windows code paths cross-built with mingw-w64 and run under Wine.
#   --sanitize   the program's tests once more with AddressSanitizer and
#                UndefinedBehaviorSanitizer, in build-asan/
#   ORMANT_BUILD, ORMANT_BUILD_ASAN   other build folders
# Runs as a normal user; setup.sh asks for sudo only when a package is missing.
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
Build=${ORMANT_BUILD:-$Root/build}
BuildAsan=${ORMANT_BUILD_ASAN:-$Root/build-asan}

"$Root/scripts/setup.sh" --windows

# The build kinds are the presets of CMakePresets.json; -B puts one elsewhere.
(cd "$Root" && cmake --preset linux -B "$Build")
cmake --build "$Build" -j2
ctest --test-dir "$Build" --output-on-failure -j2

ORMANT_HOST_EMULATOR="$Build/emulator/ormant-emu" "$Root/scripts/test-windows.sh"

if [ "${1:-}" = "--sanitize" ]; then
    echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    (cd "$Root" && cmake --preset asan -B "$BuildAsan")
    cmake --build "$BuildAsan" -j2
    # Leaks inside system libraries only are suppressed; see tests/lsan.supp.
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        LSAN_OPTIONS="suppressions=$Root/tests/lsan.supp:print_suppressions=0" \
        ctest --test-dir "$BuildAsan" --output-on-failure -j2
fi
