#!/bin/bash
# wine-run.sh PREFIX PROGRAM [ARG...]: runs a Windows program under Wine in
# PREFIX, making the prefix first if needed. Fails loudly when Wine cannot run.
# wine-run.sh PREFIX --prepare: only makes the prefix.
# wine-run.sh PREFIX --wait: waits until Wine has stopped in PREFIX.
# wine-run.sh PREFIX --server [ARG...]: runs Wine's server for PREFIX.
set -euo pipefail
# CTest runs this file where it lies in the sources (cmake/mingw-w64.cmake).
# shellcheck source=SCRIPTDIR/../scripts/lib/common.sh
. "$(dirname "$0")/../scripts/lib/common.sh"
if [ $# -lt 2 ]; then
    echo "usage: $0 WINEPREFIX PROGRAM [ARG...]" >&2
    exit 2
fi
export WINEPREFIX=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
if ! ormant_find_wine 2>/dev/null; then
    echo "wine-run.sh: Wine not found (install wine64 or set ORMANT_WINE)" >&2
    exit 1
fi
WINE=$OrmantWine
WINESERVER=$OrmantWineServer
export ORMANT_WINE=$WINE
if [ "$1" = --wait ]; then
    exec "$WINESERVER" -w
fi
if [ "$1" = --server ]; then
    shift
    exec "$WINESERVER" "$@"
fi

# Tests may start at the same time; only one of them makes the prefix.
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        Log=$WINEPREFIX.boot.log
        "$WINE" wineboot -i >"$Log" 2>&1 || true
        # The registry reaches the disk when the server stops.
        "$WINESERVER" -w >>"$Log" 2>&1 || true
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "wine-run.sh: Wine could not make the prefix $WINEPREFIX:" >&2
            cat "$Log" >&2
            exit 1
        fi
    fi
) 9>"$WINEPREFIX.lock"
[ "$1" = --prepare ] && exit 0
ormant_find_wine "$1"
exec "$OrmantWine" "$@"
