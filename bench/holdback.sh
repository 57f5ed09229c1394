#!/bin/bash
# holdback.sh: how late the Windows program really sends its held-back ACK,
# and how much processor time it takes while it holds one back, under Wine.
#   overshoot  held - Delay for every probe of RUNS search runs against
#              "ormant-emu --cap 500": Delay as the program logged it (its
#              window's log, read with ormant-uictl), held as the emulator
#              saw it ("ACK after N ms" / "ACK too late, N ms": from the
#              answer's last byte to the ACK on the wire), paired in order
#   CPU        the program's (and Wine's server's) processor time during 9 s
#              of the 10000 ms probe, as a share of one core
# The Linux program has no UI driver to read its log with, so it is left to
# its window tests (tests/window) rather than clicked at pixels here.
# Needs the Windows builds with their tests (scripts/build-windows.sh, or
# scripts/test-windows.sh) and an ormant-emu for this machine; installs the
# packages it needs through scripts/setup.sh --windows.
#   ORMANT_BENCH_RUNS    search runs per program (default 4)
#   ORMANT_BENCH_BITS    which programs (default "64 32")
#   ORMANT_HOST_EMULATOR the emulator (default build/ or build-emu/)
#   ORMANT_WIN32_BUILD, ORMANT_WIN64_BUILD   the Windows builds (default
#                        build-win32/, build-win64/)
#   ORMANT_BENCH_OUT     work folder (default build-bench/)
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
. "$Root/scripts/lib/common.sh"
Runs=${ORMANT_BENCH_RUNS:-4}
Out=${ORMANT_BENCH_OUT:-$Root/build-bench}
WineRun=$Root/cmake/wine-run.sh

Fail() {
    echo "holdback.sh: $*" >&2
    exit 1
}

"$Root/scripts/setup.sh" --windows
ormant_find_emulator "$Root" 2>/dev/null ||
    Fail "no ormant-emu: run scripts/run.sh, or cmake --preset emu && cmake --build --preset emu"
rm -rf "$Out"
mkdir -p "$Out"

ProgramPid=
Cleanup() {
    [ -n "$ProgramPid" ] && kill "$ProgramPid" 2>/dev/null || true
    ormant_cleanup
    for Dir in "$Out"/win*; do
        [ -f "$Dir/display" ] && ORMANT_E2E_DIR=$Dir "$Root/tests/win/e2e.sh" cleanup || true
    done
}
trap Cleanup EXIT

# The held times of the probes in the emulator's log, in order: the first ACK
# after each short-status frame that came at least 20 ms late (the driver's
# own ACKs come at once).
HeldTimes() {
    sed -n -e '/<- 02 05 11 .*(frame)/{s/.*/frame/p;d}' \
        -e 's/.*ACK after \([0-9]*\) ms.*/\1/p' -e 's/.*ACK too late, \([0-9]*\) ms.*/\1/p' "$1" |
        awk '$1 == "frame" { Frame = 1; next } Frame { if ($1 >= 20) print $1; Frame = 0 }'
}

# The delays the program probed, in order, from its logs.
Delays() {
    sed -n 's/^\([0-9][0-9]*\) *мс : .*/\1/p' "$@"
}

Stats() {
    sort -n | awk '{ V[NR] = $1 } END {
        if (NR == 0) { print "no probes"; exit 1 }
        P = int(NR * 0.99 + 0.999999); if (P > NR) P = NR
        printf "%d probes: min %d, median %d, p99 %d, max %d ms\n", NR, V[1], V[int((NR + 1) / 2)], V[P], V[NR] }'
}

Ticks() { # processor time of the processes, in clock ticks
    local Sum=0 Pid
    for Pid in "$@"; do
        Sum=$((Sum + $(awk '{ print $14 + $15 }' "/proc/$Pid/stat")))
    done
    echo $Sum
}

# Cpu PROGRAM [SERVER]: processor share over 9 s.
Cpu() {
    local P0 S0=0 W0 P1 S1=0 W1
    P0=$(Ticks "$1")
    [ -n "${2:-}" ] && S0=$(Ticks "$2")
    W0=$(date +%s%N)
    sleep 9
    P1=$(Ticks "$1")
    [ -n "${2:-}" ] && S1=$(Ticks "$2")
    W1=$(date +%s%N)
    awk -v P=$((P1 - P0)) -v S=$((S1 - S0)) -v W=$((W1 - W0)) -v Hz="$(getconf CLK_TCK)" 'BEGIN {
        printf "program %.1f%% of a core, with Wine'"'"'s server %.1f%%\n",
            100 * P / Hz / (W / 1e9), 100 * (P + S) / Hz / (W / 1e9) }'
}

Bench() {
    local Bits=$1 Dir=$Out/win$1 Build
    Build=$(ormant_win_build "$Root" "$Bits")
    export ORMANT_E2E_DIR=$Dir ORMANT_E2E_EXE=$Build/app/ormant-timeout.exe
    export ORMANT_E2E_DLL=$Build/standin/ormant-standin.dll
    export ORMANT_E2E_UICTL=$Build/tests/win/ormant-uictl.exe ORMANT_WINEPREFIX=$Build/wineprefix
    for Need in "$ORMANT_E2E_EXE" "$ORMANT_E2E_DLL" "$ORMANT_E2E_UICTL"; do
        [ -f "$Need" ] || Fail "$Need is missing: run scripts/build-windows.sh"
    done
    "$Root/tests/win/e2e.sh" setup
    local Prefix=$Dir/prefix
    export WINEPREFIX=$Prefix DISPLAY
    DISPLAY=$(cat "$Dir/display")
    printf '[General]\r\nComNumber=5\r\nBaudrate=2\r\nTimeout=150\r\n' >"$Dir/driver.ini"
    export ORMANT_DRIVER_INI="Z:$Dir/driver.ini"
    # One command a line on its standard input (see tests/win/uictl_win.cpp).
    Ui() { printf '%s\n' "$@" | "$WineRun" "$Prefix" "$ORMANT_E2E_UICTL"; }

    ormant_start_emulator "$OrmantEmulator" "$Prefix/dosdevices/com5" "$Dir/emulator.log" \
        "$Dir/emulator.out" --cap 500 || Fail "the emulator did not start"
    "$WineRun" "$Prefix" "$ORMANT_E2E_EXE" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Ui 'click DetectTimeout'
    local Run
    for Run in $(seq "$Runs"); do
        # A click is posted: the log is cleared and given time to show it
        # before the next run's end is waited for.
        Ui 'click Clear'
        sleep 0.5
        Ui 'click Start' 'wait-log Максимальный таймаут:' wait-idle log >"$Dir/memo$Run.txt"
    done
    Ui 'click Close'
    wait "$ProgramPid" || true
    ProgramPid=
    ormant_stop_emulator
    Delays "$Dir"/memo*.txt >"$Dir/delays"
    HeldTimes "$Dir/emulator.log" >"$Dir/held"
    [ "$(wc -l <"$Dir/delays")" -eq "$(wc -l <"$Dir/held")" ] ||
        Fail "$(wc -l <"$Dir/delays") probes in the program's logs, $(wc -l <"$Dir/held") on the wire"
    echo "windows $Bits-bit overshoot: $(paste "$Dir/held" "$Dir/delays" | awk '{ print $1 - $2 }' | Stats)"

    ormant_start_emulator "$OrmantEmulator" "$Prefix/dosdevices/com5" "$Dir/emulator-cpu.log" \
        "$Dir/emulator.out" || Fail "the emulator did not start"
    "$WineRun" "$Prefix" "$ORMANT_E2E_EXE" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Ui 'click Start' 'wait-log 10000  мс : '
    sleep 0.3
    echo "windows $Bits-bit CPU while holding back: $(Cpu "$ProgramPid" "$(ormant_prefix_pids "$Prefix" wineserver)")"
    Ui 'click Stop' wait-idle 'click Close'
    wait "$ProgramPid" || true
    ProgramPid=
    ormant_stop_emulator
    "$Root/tests/win/e2e.sh" cleanup
}

echo "== $Runs search runs against --cap 500 per program, then 9 s of the 10000 ms probe"
for Bits in ${ORMANT_BENCH_BITS:-64 32}; do
    Bench "$Bits"
done
