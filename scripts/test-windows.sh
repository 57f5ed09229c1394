#!/bin/bash
# Builds the Windows program for both bitnesses (scripts/build-windows.sh:
# build-win32/, build-win64/, dist/), runs each build's tests under Wine —
# the Windows code paths' own and the program end to end against the register
# emulator built for this machine — and makes the operator's archive and the
# bench kit (scripts/package.sh). Exits non-zero on any failure.
#   ORMANT_HOST_EMULATOR  ormant-emu to use (default: build/ or build-emu/, else
#                         built into build-emu/)
#   ORMANT_WIN32_BUILD, ORMANT_WIN64_BUILD  build folders (default build-win32/,
#                         build-win64/)
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
. "$Root/scripts/lib/common.sh"

for Tool in cmake ninja Xvfb; do
    if ! command -v "$Tool" >/dev/null; then
        echo "test-windows.sh: $Tool is missing (scripts/setup.sh --windows installs it)" >&2
        exit 1
    fi
done
if ! ormant_find_wine 2>/dev/null; then
    echo "test-windows.sh: Wine is missing (apt-get install wine64 wine32:i386)" >&2
    exit 1
fi

ormant_find_emulator "$Root" --build

"$Root/scripts/build-windows.sh"

# A kernel without 32-bit support (some virtual machines') builds the 32-bit
# program but cannot run it, nor 32-bit Wine: its tests are left out, loudly,
# and so is the 64-bit test's registration of the 32-bit stand-in.
Runs32=true
if ! ormant_runs_32bit; then
    Runs32=false
    echo "== NOTE: this machine's kernel cannot run 32-bit programs (Exec format error):" \
        "the 32-bit build is made and packaged, but its tests do not run here" >&2
fi
for Bits in 32 64; do
    Build=$(ormant_win_build "$Root" $Bits)
    Other=()
    if ! $Runs32; then
        [ $Bits = 32 ] && continue
        Other=(-DORMANT_STANDIN_DLL_OTHER=)
    fi
    echo "== testing the $Bits-bit build under Wine"
    # Only the tests' settings change: nothing is rebuilt.
    cmake -S "$Root" -B "$Build" -DORMANT_HOST_EMULATOR="$OrmantEmulator" "${Other[@]}" >/dev/null
    ctest --test-dir "$Build" --output-on-failure -j2
done

"$Root/scripts/package.sh"

# The release can be checked: built again from the same tree in other build
# folders, and packed elsewhere, it is the same bytes; its readme begins with
# one BOM and has no other.
Dist=${ORMANT_DIST:-$Root/dist}
Again=$(mktemp -d)
trap 'rm -rf "$Again"' EXIT
echo "== building the release again in $Again"
ORMANT_WIN32_BUILD=$Again/build-win32 ORMANT_WIN64_BUILD=$Again/build-win64 ORMANT_DIST=$Again/dist \
    ORMANT_BUILD_TARGETS="ormant-timeout ormant-emu ormant-report ormant-standin" \
    "$Root/scripts/build-windows.sh" >"$Again/build.log" 2>&1 ||
    { cat "$Again/build.log"; echo "test-windows.sh: the second build failed" >&2; exit 1; }
ORMANT_DIST=$Again/dist "$Root/scripts/package.sh" "$Again" >/dev/null
Zip=$(cd "$Again" && ls ormant-timeout-*.zip)
cmp "$Dist/$Zip" "$Again/$Zip" ||
    { echo "test-windows.sh: two builds of one tree give different archives" >&2; exit 1; }
unzip -p "$Dist/$Zip" '*/readme.txt' >"$Again/readme.txt"
[ "$(head -c3 "$Again/readme.txt")" = $'\xEF\xBB\xBF' ] &&
    [ "$(grep -o $'\xEF\xBB\xBF' "$Again/readme.txt" | wc -l)" -eq 1 ] ||
    { echo "test-windows.sh: readme.txt does not begin with exactly one BOM" >&2; exit 1; }
echo "== the archive is reproducible: $(cat "$Dist/SHA256SUMS")"
# No test tool reaches operators.
! unzip -Z1 "$Dist/$Zip" | grep -E 'ormant-(emu|report|standin)' ||
    { echo "test-windows.sh: a test tool is in the operators' archive" >&2; exit 1; }

# The bench kit likewise, each text of it with one BOM and CR LF lines.
Kit=$(cd "$Again/bench" && ls ormant-bench-*.zip)
cmp "$Dist/bench/$Kit" "$Again/bench/$Kit" ||
    { echo "test-windows.sh: two builds of one tree give different bench kits" >&2; exit 1; }
(cd "$Again/bench" && sha256sum -c --quiet SHA256SUMS) ||
    { echo "test-windows.sh: the bench kit's SHA256SUMS does not match" >&2; exit 1; }
mkdir "$Again/kit"
unzip -q "$Dist/bench/$Kit" -d "$Again/kit"
for Text in "$Again"/kit/*/*.txt; do
    [ "$(head -c3 "$Text")" = $'\xEF\xBB\xBF' ] && [ "$(grep -c $'\xEF\xBB\xBF' "$Text")" -eq 1 ] &&
        ! grep -qv $'\r$' "$Text" ||
        { echo "test-windows.sh: $(basename "$Text") is not for Notepad (one BOM, CR LF)" >&2; exit 1; }
done
echo "== the bench kit is reproducible: $(cat "$Dist/bench/SHA256SUMS")"
