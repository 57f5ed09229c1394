#!/bin/bash
# bench-holdback.sh: how late the program really sends its held-back ACK and
# how much processor time it takes while it holds one back, for the Windows
# program under Wine (32- and 64-bit) and the Linux program, in one run.
#   overshoot  held - Delay for every probe of RUNS search runs against
#              "ormant-emu --cap 500" (9 probes a run); held is the emulator's
#              "ACK after N ms" / "ACK too late, N ms", Delay is replayed from
#              the probes' outcomes with the run's own fixed series and
#              bisection
#   CPU        the program's (and Wine's server's) processor time during 9 s
#              of the 10000 ms probe, as a share of one core
# Needs scripts/build-windows.sh's build-win32/ and build-win64/ and the Linux
# build in build/ (scripts/run.sh or scripts/test.sh makes it).
#   ORMANT_BENCH_RUNS   search runs per program (default 4)
#   ORMANT_BUILD        the Linux build (default build/)
#   ORMANT_WIN32_BUILD, ORMANT_WIN64_BUILD   the Windows builds (default
#                       build-win32/, build-win64/)
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
Runs=${ORMANT_BENCH_RUNS:-4}
Linux=${ORMANT_BUILD:-$Root/build}
Emulator=$Linux/emulator/ormant-emu
Out=$Root/build-bench
WineRun=$Root/cmake/wine-run.sh

Win32=${ORMANT_WIN32_BUILD:-$Root/build-win32}
Win64=${ORMANT_WIN64_BUILD:-$Root/build-win64}
for Need in "$Emulator" "$Linux/app/ormant-timeout" "$Win32/app/ormant-timeout.exe" \
    "$Win64/app/ormant-timeout.exe"; do
    if [ ! -x "$Need" ]; then
        echo "bench-holdback.sh: $Need is missing; run scripts/build-windows.sh and scripts/run.sh" \
            "(or scripts/test.sh) first" >&2
        exit 1
    fi
done
rm -rf "$Out"
mkdir -p "$Out"

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$Out/display" </dev/null \
    >"$Out/xvfb.log" 2>&1 &
XvfbPid=$!
EmulatorPid=
ProgramPid=
Cleanup() {
    [ -n "$ProgramPid" ] && kill "$ProgramPid" 2>/dev/null || true
    [ -n "$EmulatorPid" ] && kill "$EmulatorPid" 2>/dev/null || true
    for Bits in 32 64; do
        [ -f "$Out/win$Bits/display" ] && ORMANT_E2E_DIR=$Out/win$Bits \
            "$Root/tests/win/e2e.sh" cleanup || true
    done
    kill "$XvfbPid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap Cleanup EXIT
for _ in $(seq 100); do
    [ -s "$Out/display" ] && break
    sleep 0.1
done
[ -s "$Out/display" ] || { echo "bench-holdback.sh: Xvfb did not start" >&2; exit 1; }
LinuxDisplay=:$(head -n1 "$Out/display")

# StartEmulator LINK LOG [ARG...]
StartEmulator() {
    local Link=$1 Log=$2
    shift 2
    rm -f "$Log"
    "$Emulator" --link "$Link" --log "$Log" "$@" </dev/null >"$Log.out" 2>&1 &
    EmulatorPid=$!
    for _ in $(seq 100); do
        grep -q '^PTY ' "$Log.out" && return 0
        sleep 0.1
    done
    echo "bench-holdback.sh: the emulator did not start" >&2
    exit 1
}

StopEmulator() {
    kill "$EmulatorPid" 2>/dev/null || true
    wait "$EmulatorPid" 2>/dev/null || true
    EmulatorPid=
}

# Probe count in an emulator log: the first ACK after each short-status frame
# that came at least 20 ms late (the driver's own ACKs come at once).
HeldTimes() {
    awk '/<- 02 05 11 .*\(frame\)/ { Frame = 1; next }
         Frame && /ACK after [0-9]+ ms/ { match($0, /after [0-9]+/); N = substr($0, RSTART + 6, RLENGTH - 6) + 0
                                          if (N >= 20) print N, "pass"; Frame = 0; next }
         Frame && /ACK too late, [0-9]+ ms/ { match($0, /late, [0-9]+/); N = substr($0, RSTART + 6, RLENGTH - 6) + 0
                                              if (N >= 20) print N, "fail"; Frame = 0; next }
         /exchange timeout set to .*requested 100000/ { print "run" }' "$1"
}

# held - Delay for each probe, the delays replayed from the outcomes: the
# fixed series up to its first failure, then the bisection from 0.
Overshoots() {
    HeldTimes "$1" | awk '
        function next_delay() {
            if (Fixed) return Delay
            return Lo + int((Hi - Lo) / 2)
        }
        $1 == "run" { Fixed = 1; Delay = 100; Done = 0; next }
        {
            if (Done) { print "unexpected probe" > "/dev/stderr"; exit 1 }
            D = next_delay(); print $1 - D
            if (Fixed) {
                if ($2 == "pass" && Delay < 100000) { Delay *= 10; next }
                Fixed = 0; Lo = 0; Hi = D
                if ($2 == "pass" || Hi == 100) Done = 1
            } else if ($2 == "pass") Lo = D; else Hi = D
            if (!Fixed && Hi - Lo < 10) Done = 1
        }'
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

# Cpu LOG PROGRAM [SERVER]: processor share of the program (and of it with
# Wine's server) during 9 s of the 10000 ms probe, whose answer is the first
# after the 1000 ms probe's ACK.
Cpu() {
    local Log=$1 Program=$2 Server=${3:-}
    for _ in $(seq 300); do
        awk '/ACK after 1[0-9][0-9][0-9] ms/ { Seen = 1 } Seen && /\(ACK \+ answer\)/ { Yes = 1 }
             END { exit !Yes }' "$Log" && break
        sleep 0.1
    done
    sleep 0.3
    local P0 S0=0 W0 P1 S1=0 W1
    P0=$(Ticks "$Program")
    [ -n "$Server" ] && S0=$(Ticks "$Server")
    W0=$(date +%s%N)
    sleep 9
    P1=$(Ticks "$Program")
    [ -n "$Server" ] && S1=$(Ticks "$Server")
    W1=$(date +%s%N)
    awk -v P=$((P1 - P0)) -v S=$((S1 - S0)) -v W=$((W1 - W0)) -v Hz="$(getconf CLK_TCK)" \
        -v Wine="$Server" 'BEGIN {
            printf "program %.1f%% of a core", 100 * P / Hz / (W / 1e9)
            if (Wine != "") printf ", with Wine'"'"'s server %.1f%%", 100 * (P + S) / Hz / (W / 1e9)
            printf "\n" }'
}

# --- Windows, under Wine -----------------------------------------------------
WineServerPid() { # the server of the prefix $1
    local Pid
    for Pid in $(ls /proc | grep -E '^[0-9]+$'); do
        case "$(cat "/proc/$Pid/comm" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
        tr '\0' '\n' <"/proc/$Pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$1" && echo "$Pid"
    done
}

BenchWindows() {
    local Bits=$1 Build=$2 Dir=$Out/win$1
    export ORMANT_E2E_DIR=$Dir ORMANT_E2E_EXE=$Build/app/ormant-timeout.exe
    export ORMANT_E2E_DLL=$Build/standin/ormant-standin.dll
    export ORMANT_E2E_UICTL=$Build/tests/win/ormant-uictl.exe ORMANT_WINEPREFIX=$Build/wineprefix
    "$Root/tests/win/e2e.sh" setup
    local Prefix=$Dir/prefix
    export WINEPREFIX=$Prefix DISPLAY
    DISPLAY=$(cat "$Dir/display")
    printf '[General]\r\nComNumber=5\r\nBaudrate=2\r\nTimeout=150\r\n' >"$Dir/driver.ini"
    export ORMANT_DRIVER_INI="Z:$Dir/driver.ini"
    Ui() { "$WineRun" "$Prefix" "$ORMANT_E2E_UICTL" "$@"; }
    local Log=$Dir/emulator.log
    StartEmulator "$Prefix/dosdevices/com5" "$Log" --cap 500
    "$WineRun" "$Prefix" "$ORMANT_E2E_EXE" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Ui find 30000 click 101
    for _ in $(seq "$Runs"); do
        Ui start 10000 wait-text 100 "Максимальный таймаут:" 60000 wait-idle 10000
    done
    Ui close wait-exit 10000
    wait "$ProgramPid" || true
    ProgramPid=
    StopEmulator
    echo "windows $Bits-bit overshoot: $(Overshoots "$Log" | Stats)"

    Log=$Dir/emulator-cpu.log
    StartEmulator "$Prefix/dosdevices/com5" "$Log"
    "$WineRun" "$Prefix" "$ORMANT_E2E_EXE" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Ui find 30000 start 10000
    local Server
    Server=$(WineServerPid "$Prefix")
    echo "windows $Bits-bit CPU while holding back: $(Cpu "$Log" "$ProgramPid" "$Server")"
    Ui click 103 wait-idle 20000 close wait-exit 10000
    wait "$ProgramPid" || true
    ProgramPid=
    StopEmulator
    "$Root/tests/win/e2e.sh" cleanup
}

# --- Linux: the Qt window, clicked with xdotool ------------------------------
BenchLinux() {
    local Dir=$Out/linux
    mkdir -p "$Dir/dosdevices"
    export DISPLAY=$LinuxDisplay ORMANT_PORT_DIR=$Dir/dosdevices ORMANT_DRIVER_INI=$Dir/driver.ini
    printf '[General]\nComNumber=1\nBaudrate=2\nTimeout=150\n' >"$ORMANT_DRIVER_INI"
    # Click X Y: at client coordinates of the window.
    Click() { xdotool mousemove --window "$Window" "$1" "$2" click 1; }
    # Runs: waits until the log shows N restores of the 150 ms timeout.
    Restores() {
        local N=$1
        for _ in $(seq 600); do
            [ "$(grep -c 'set to 150 ms' "$Log" || true)" -ge "$N" ] && return 0
            sleep 0.1
        done
        echo "bench-holdback.sh: the Linux program's run did not end" >&2
        exit 1
    }
    local Log=$Dir/emulator.log Window
    StartEmulator "$Dir/dosdevices/com1" "$Log" --cap 500
    "$Linux/app/ormant-timeout" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Window=$(xdotool search --sync --onlyvisible --name 'Тест таймаута ФР' | head -n1)
    Click 18 312
    for I in $(seq "$Runs"); do
        Click 389 20
        Restores "$I"
        sleep 0.3
    done
    Click 389 308
    wait "$ProgramPid" || true
    ProgramPid=
    StopEmulator
    echo "linux overshoot: $(Overshoots "$Log" | Stats)"

    Log=$Dir/emulator-cpu.log
    StartEmulator "$Dir/dosdevices/com1" "$Log"
    "$Linux/app/ormant-timeout" </dev/null >"$Dir/program.out" 2>&1 &
    ProgramPid=$!
    Window=$(xdotool search --sync --onlyvisible --name 'Тест таймаута ФР' | head -n1)
    Click 389 20
    echo "linux CPU while holding back: $(Cpu "$Log" "$ProgramPid")"
    Click 389 52
    Restores 1
    Click 389 308
    wait "$ProgramPid" || true
    ProgramPid=
    StopEmulator
}

echo "== $Runs search runs against --cap 500 per program, then 9 s of the 10000 ms probe"
BenchWindows 64 "$Win64"
BenchWindows 32 "$Win32"
BenchLinux
