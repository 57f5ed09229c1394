#!/bin/bash
# holdback.sh: how late the Windows program really sends its held-back ACK,
# and how much processor time it takes while it holds one back, under Wine.
#   overshoot  held - Delay for every probe of RUNS search runs against
#              "ormant-emu --cap 500", as ormant-report pairs them: Delay as
#              the program logged it (its window's log, read with
#              ormant-uictl), held as the emulator saw it (from the answer's
#              last byte to the ACK on the wire)
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
. "$Root/bench/program-log.sh"
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
    export ORMANT_E2E_UICTL=$Build/bench/ormant-uictl.exe ORMANT_WINEPREFIX=$Build/wineprefix
    local Report=$Build/bench/ormant-report.exe
    for Need in "$ORMANT_E2E_EXE" "$ORMANT_E2E_DLL" "$ORMANT_E2E_UICTL" "$Report"; do
        [ -f "$Need" ] || Fail "$Need is missing: run scripts/build-windows.sh"
    done
    "$Root/tests/win/e2e.sh" setup
    local Prefix=$Dir/prefix
    export WINEPREFIX=$Prefix DISPLAY
    DISPLAY=$(cat "$Dir/display")
    printf '[General]\r\nComNumber=5\r\nBaudrate=2\r\nTimeout=150\r\n' >"$Dir/driver.ini"
    export ORMANT_DRIVER_INI="Z:$Dir/driver.ini"
    # One command a line on its standard input (see bench/uictl_win.cpp).
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
        Ui 'click Start' "wait-log ${ProgramMaximum%%%s*}" wait-idle log >"$Dir/memo$Run.txt"
    done
    Ui 'click Close'
    wait "$ProgramPid" || true
    ProgramPid=
    ormant_stop_emulator
    cat "$Dir"/memo*.txt >"$Dir/program.txt"
    "$WineRun" "$Prefix" "$Report" "Z:$Dir/emulator.log" "Z:$Dir/program.txt" </dev/null 2>&1 |
        tr -d '\r' >"$Dir/report.txt" || Fail "no report: $(cat "$Dir/report.txt")"
    echo "windows $Bits-bit overshoot: $(sed -n 's/^held - delay over //p' "$Dir/report.txt")"

    ormant_start_emulator "$OrmantEmulator" "$Prefix/dosdevices/com5" "$Dir/emulator-cpu.log" \
        "$Dir/emulator.out" || Fail "the emulator did not start"
    "$WineRun" "$Prefix" "$ORMANT_E2E_EXE" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Ui 'click Start' "wait-log $(ProgramProbeLine 10000)"
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
