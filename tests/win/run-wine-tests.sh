#!/bin/bash
# run-wine-tests.sh TEST.EXE [ARG...]: runs the Windows test program under Wine
# with the register emulator (ORMANT_HOST_EMULATOR, frames cut after their
# length byte from the first timeout command on) behind COM12, a non-serial
# device behind COM13 and nothing behind COM77.
set -euo pipefail
Here=$(cd "$(dirname "$0")" && pwd)
Root=$(cd "$Here/../.." && pwd)
. "$Root/scripts/lib/common.sh"
if [ $# -lt 1 ]; then
    echo "usage: $0 TEST.EXE [ARG...]" >&2
    exit 2
fi
Exe=$1
shift

Emulator=${ORMANT_HOST_EMULATOR:-}
if [ -z "$Emulator" ] || [ ! -x "$Emulator" ]; then
    echo "run-wine-tests.sh: the register emulator '$Emulator' is not there;" \
        "build ormant-emu for the host and pass its path as ORMANT_HOST_EMULATOR" >&2
    exit 1
fi
Prefix=${ORMANT_WINEPREFIX:-$(dirname "$Exe")/wineprefix}
"$Root/cmake/wine-run.sh" "$Prefix" --prepare

High=12 NotSerial=13 Missing=77
Dos=$Prefix/dosdevices
Work=$(mktemp -d)
Cleanup() {
    # Wine's server takes an open pseudo-terminal for its controlling one and
    # dumps its state on the hangup that closing the emulator's end sends.
    "$Root/cmake/wine-run.sh" "$Prefix" --wait || true
    ormant_stop_emulator
    rm -f "$Dos/com$High" "$Dos/com$NotSerial"
    rm -rf "$Work"
}
trap Cleanup EXIT

for N in $High $NotSerial $Missing; do
    if [ -e "$Dos/com$N" ] && [ ! -L "$Dos/com$N" ]; then
        echo "run-wine-tests.sh: $Dos/com$N is in the way" >&2
        exit 1
    fi
    rm -f "$Dos/com$N"
done
# A file where a port should be: opened, refused, and never written to.
: >"$Work/not-serial.bin"
ln -s "$Work/not-serial.bin" "$Dos/com$NotSerial"

# Its frames stop after the length byte once a timeout command has come.
ormant_start_emulator "$Emulator" "$Dos/com$High" "$Work/emulator.log" "$Work/emulator.out" \
    --fault cut-frame || exit 1

Status=0
ORMANT_TEST_COM=$High ORMANT_TEST_COM_NOT_SERIAL=$NotSerial ORMANT_TEST_COM_MISSING=$Missing \
    "$Root/cmake/wine-run.sh" "$Prefix" "$Exe" "$@" || Status=$?
if [ $Status -ne 0 ]; then
    echo "--- emulator log (last 60 lines) ---" >&2
    tail -n 60 "$Work/emulator.log" >&2 || true
fi
exit $Status
