#!/bin/bash
# Builds the program if needed and starts it against the register emulator on
# a pseudo-terminal, with the stand-in driver pointed at it (COM1 in a port
# folder of this build). Options are passed to the emulator, e.g.
#   scripts/run.sh --cap 5000
#   scripts/run.sh --fault wrong-enq=0x1B
# Runs as a normal user; setup.sh asks for sudo only when a package is missing.
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
Build=${ORMANT_BUILD:-$Root/build}
. "$Root/scripts/lib/common.sh"

"$Root/scripts/setup.sh"
[ -f "$Build/build.ninja" ] || (cd "$Root" && cmake --preset linux -B "$Build")
cmake --build "$Build" -j2 --target ormant-timeout ormant-emu

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run.sh: there is no display to show the window on." >&2
    echo "        Run it under a virtual one:  xvfb-run -a scripts/run.sh" >&2
    exit 1
fi

# A build with AddressSanitizer (ORMANT_BUILD=build-asan) reports only our own
# leaks, not those inside system libraries.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$Root/tests/lsan.supp:print_suppressions=0}

Run=$Build/run
mkdir -p "$Run/dosdevices"
export ORMANT_PORT_DIR=$Run/dosdevices
export ORMANT_DRIVER_INI=$Run/driver.ini
# The emulator is always COM1 here; the driver's other settings stay as the
# operator left them in its dialog.
if [ -f "$ORMANT_DRIVER_INI" ] && grep -q '^ComNumber=' "$ORMANT_DRIVER_INI"; then
    sed -i 's/^ComNumber=.*/ComNumber=1/' "$ORMANT_DRIVER_INI"
elif [ -f "$ORMANT_DRIVER_INI" ] && grep -q '^\[General\]' "$ORMANT_DRIVER_INI"; then
    sed -i '/^\[General\]/a ComNumber=1' "$ORMANT_DRIVER_INI"
else
    printf '[General]\nComNumber=1\nBaudrate=2\nTimeout=150\n' > "$ORMANT_DRIVER_INI"
fi

EmulatorOptions=(--cap 3000)
[ $# -gt 0 ] && EmulatorOptions=("$@")
trap ormant_cleanup EXIT
ormant_start_emulator "$Build/emulator/ormant-emu" "$ORMANT_PORT_DIR/com1" "$Run/emulator.log" \
    "$Run/emulator.out" "${EmulatorOptions[@]}" || { echo "run.sh: the emulator did not start" >&2; exit 1; }
echo "== register emulator on $OrmantEmulatorPty as COM1 (${EmulatorOptions[*]}); its log: $Run/emulator.log"

"$Build/app/ormant-timeout"
