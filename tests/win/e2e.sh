#!/bin/bash
# e2e.sh SCENARIO: the Windows program end to end under Wine, driven through
# ormant-uictl, against the stand-in "Addin.Ormant" and the register emulator.
#   setup         the tests' own prefix (a copy of the unit tests' one), an X
#                 server, fonts, the stand-in registered; a persistent Wine
#                 server, so later scenarios start quickly
#   cleanup       ends the Wine server and the X server
#   search|stop|close|closefail|endsession|endsessionkill|startfail|
#   unregistered|hold|suspend|driverdialog|mute|layout|chain|chainlinux|emubad
#                 one scenario each (hold and driverdialog press the mouse
#                 with xdotool; chain and chainlinux join two COM ports with
#                 socat)
# Set by CMake: ORMANT_E2E_DIR, ORMANT_E2E_EXE, ORMANT_E2E_DLL,
# ORMANT_E2E_UICTL, ORMANT_WINEPREFIX (the prefix to copy), ORMANT_E2E_EMULATOR
# (the host's ormant-emu; ORMANT_HOST_EMULATOR in the environment wins),
# ORMANT_E2E_WINEMU and ORMANT_E2E_REPORT (ormant-emu.exe, ormant-report.exe),
# ORMANT_E2E_WINTESTS (the Windows unit tests, whose window test needs a display).
set -euo pipefail
Here=$(cd "$(dirname "$0")" && pwd)
Root=$(cd "$Here/../.." && pwd)
WineRun=$Root/cmake/wine-run.sh
. "$Root/scripts/lib/common.sh"
. "$Root/bench/program-log.sh"
Scenario=${1:?usage: e2e.sh SCENARIO}
Dir=${ORMANT_E2E_DIR:?}
Emulator=${ORMANT_HOST_EMULATOR:-${ORMANT_E2E_EMULATOR:-}}
export WINEPREFIX=$Dir/prefix
export WINEDEBUG=${WINEDEBUG:--all}

Fail() {
    echo "e2e $Scenario: $*" >&2
    exit 1
}

# All this script reads of the emulator's log, as basic regular expressions
# of the sentences the emulator writes (emulator/untRegisterLog.cpp). The held ACKs come from ormant-report.
EmuTimeoutSet='exchange timeout set to [0-9]* ms (requested \([0-9]*\),'
EmuMuteOver='mute over: answering again'
EmuStopped=' stopped$'

Register() {
    "$WineRun" "$WINEPREFIX" regsvr32 /s "$@" "$ORMANT_E2E_DLL" >>"$Dir/setup.log" 2>&1
}

if [ "$Scenario" = setup ]; then
    [ -n "${ORMANT_E2E_EXE:-}" ] && [ -f "$ORMANT_E2E_DLL" ] || Fail "the program or the stand-in is not built"
    if [ -f "$Dir/xvfb.pid" ]; then
        "$0" cleanup || true
    fi
    rm -rf "$Dir"
    mkdir -p "$WINEPREFIX"
    "$WineRun" "$ORMANT_WINEPREFIX" --prepare
    # The system folders (1.2 GB) are linked, not copied: only a Wine update
    # writes there, and it would write the same into both prefixes.
    Shared=(drive_c/windows/system32 drive_c/windows/syswow64)
    (cd "$ORMANT_WINEPREFIX" &&
        tar -c --exclude="./${Shared[0]}" --exclude="./${Shared[1]}" . | tar -x -C "$WINEPREFIX")
    for Folder in "${Shared[@]}"; do
        if [ -d "$ORMANT_WINEPREFIX/$Folder" ]; then
            cp -al "$ORMANT_WINEPREFIX/$Folder" "$WINEPREFIX/$Folder"
        fi
    done
    # A setup that fails leaves nothing running; the cleanup may never come.
    trap '[ $? -eq 0 ] || "$0" cleanup' EXIT
    # An X server of our own, for all the scenarios: the cleanup ends it.
    ormant_start_xvfb "$Dir" || Fail "no X server"
    "$WineRun" "$WINEPREFIX" --server -p300 </dev/null >>"$Dir/setup.log" 2>&1
    "$WineRun" "$WINEPREFIX" regedit "Z:$Here/fonts.reg" </dev/null >>"$Dir/setup.log" 2>&1 || Fail "regedit failed: $(cat "$Dir/setup.log")"
    Register </dev/null || Fail "regsvr32 failed: $(cat "$Dir/setup.log")"
    exit 0
fi

if [ "$Scenario" = cleanup ]; then
    "$WineRun" "$WINEPREFIX" --server -k 2>/dev/null || true
    ormant_stop_xvfb "$Dir"
    exit 0
fi

[ -s "$Dir/display" ] || Fail "the setup did not run (no $Dir/display)"
export DISPLAY=$(cat "$Dir/display")
Work=$(mktemp -d "$Dir/$Scenario.XXXXXX")
ExePid=
Link=
PairPid=
PairLinks=()
WinEmuPid=
Cleanup() {
    local Pid
    for Pid in "$ExePid" "$WinEmuPid" "$PairPid"; do
        if [ -n "$Pid" ] && kill -0 "$Pid" 2>/dev/null; then
            kill "$Pid" 2>/dev/null || true
            wait "$Pid" 2>/dev/null || true
        fi
    done
    ormant_stop_emulator
    [ -n "$Link" ] && rm -f "$Link"
    rm -f "${PairLinks[@]}"
    return 0
}
trap Cleanup EXIT

# Ui COMMAND...: ormant-uictl, one command a line on its standard input
# (UTF-8 passes there untouched, whatever the locale's code page).
Ui() {
    printf '%s\n' "$@" | "$WineRun" "$WINEPREFIX" "$ORMANT_E2E_UICTL"
}

# StartEmulator COM [ARG...]: the register behind COMn; the stand-in's
# settings point there.
StartEmulator() {
    local Com=$1
    shift
    Link=$WINEPREFIX/dosdevices/com$Com
    [ -x "$Emulator" ] || Fail "no register emulator: build ormant-emu for this machine and" \
        "pass its path as ORMANT_HOST_EMULATOR"
    ormant_start_emulator "$Emulator" "$Link" "$Work/emulator.log" "$Work/emulator.out" "$@" ||
        Fail "the emulator did not start"
    printf '[General]\r\nComNumber=%s\r\nBaudrate=2\r\nTimeout=150\r\n' "$Com" >"$Work/driver.ini"
    export ORMANT_DRIVER_INI="Z:$Work/driver.ini"
}

# StartPair A B: COMa and COMb of the prefix joined as by a null-modem cable,
# the two ends of a pseudo-terminal pair; the stand-in's settings point at
# COMb. Sets Link (COMa's) for StartEmulator's cleanup.
StartPair() {
    local A=$WINEPREFIX/dosdevices/com$1 B=$WINEPREFIX/dosdevices/com$2 _
    command -v socat >/dev/null || Fail "socat is missing (scripts/setup.sh --windows)"
    rm -f "$A" "$B"
    PairLinks=("$A" "$B")
    socat pty,raw,echo=0,link="$A" pty,raw,echo=0,link="$B" 2>"$Work/socat.log" &
    PairPid=$!
    for _ in $(seq 50); do
        [ -e "$A" ] && [ -e "$B" ] && break
        sleep 0.1
    done
    [ -e "$A" ] && [ -e "$B" ] || Fail "socat made no pair: $(cat "$Work/socat.log")"
    printf '[General]\r\nComNumber=%s\r\nBaudrate=2\r\nTimeout=150\r\n' "$2" >"$Work/driver.ini"
    export ORMANT_DRIVER_INI="Z:$Work/driver.ini"
}

# StartWinEmulator ARG...: ormant-emu.exe, logging to $Work/emulator.log;
# waits for its "DEVICE" line.
StartWinEmulator() {
    local _
    [ -f "${ORMANT_E2E_WINEMU:-}" ] || Fail "ormant-emu.exe is not built"
    # A script's background job ignores SIGINT unless told otherwise.
    env --default-signal=INT "$WineRun" "$WINEPREFIX" "$ORMANT_E2E_WINEMU" "$@" \
        --log "Z:$Work/emulator.log" </dev/null >"$Work/winemu.out" 2>&1 &
    WinEmuPid=$!
    for _ in $(seq 100); do
        grep -q '^DEVICE ' "$Work/winemu.out" && return 0
        kill -0 "$WinEmuPid" 2>/dev/null || break
        sleep 0.1
    done
    Fail "ormant-emu.exe did not get its line ready: $(cat "$Work/winemu.out")"
}

# Search MIN CAP: a whole search with the box ticked, whose maximum lies in
# MIN..CAP-1; the log ends with the restore, which the register saw. Then the
# bench report of the run, which names the same maximum.
Search() {
    local Min=$1 Cap=$2 Max
    StartProgram
    Ui 'wait-limit 100' 'click DetectTimeout' 'click Start' "wait-log ${ProgramMaximum%%%s*}" \
        wait-idle log >"$Work/memo.txt"
    ExpectRunEnd "$Work/memo.txt"
    Max=$(ProgramMaximumIn "$Work/memo.txt")
    [ -n "$Max" ] && [ "$Max" -ge "$Min" ] && [ "$Max" -lt "$Cap" ] ||
        Fail "the maximum is not just below the cap of $Cap ms: $(cat "$Work/memo.txt")"
    ExpectRestored
    Ui 'click Close'
    ExpectExit 10000
    "$WineRun" "$WINEPREFIX" "$ORMANT_E2E_REPORT" "Z:$Work/emulator.log" "Z:$Work/memo.txt" \
        "$Scenario: Wine $("$WineRun" "$WINEPREFIX" --version 2>/dev/null || true), $(uname -sr)" \
        </dev/null 2>&1 | tr -d '\r' >"$Work/report.txt" || Fail "no report: $(cat "$Work/report.txt")"
    grep -qxF "search: $Max ms against a cap of $Cap ms, $((Cap - Max)) ms below" "$Work/report.txt" ||
        Fail "the report does not name the search's result: $(cat "$Work/report.txt")"
    cat "$Work/report.txt"
}

StartProgram() {
    "$WineRun" "$WINEPREFIX" "$ORMANT_E2E_EXE" </dev/null >"$Work/program.out" 2>&1 &
    ExePid=$!
}

# The program ends by itself within Ms; its exit code must be 0.
ExpectExit() {
    local Ms=$1 Deadline Status=0
    Deadline=$((SECONDS + (Ms + 999) / 1000))
    while kill -0 "$ExePid" 2>/dev/null; do
        [ $SECONDS -lt $Deadline ] || Fail "the program did not end within $Ms ms"
        sleep 0.1
    done
    wait "$ExePid" || Status=$?
    ExePid=
    [ $Status -eq 0 ] || Fail "the program ended with $Status: $(cat "$Work/program.out")"
}

ExpectLine() {
    grep -qxF -- "$2" "$1" || Fail "no line \"$2\" in $1:$(printf '\n'; cat "$1")"
}

# The register's timeout was raised and is back at the stand-in's 150 ms.
ExpectRestored() {
    local Requested
    Requested=$(sed -n "s/.*$EmuTimeoutSet.*/\1/p" "$Work/emulator.log")
    grep -qx 100000 <<<"$Requested" || Fail "the timeout was never raised: $(cat "$Work/emulator.log")"
    [ "$(tail -n1 <<<"$Requested")" = 150 ] ||
        Fail "the timeout was not restored: $(tail -n 20 "$Work/emulator.log")"
}

ExpectRunEnd() {
    local Memo=$1
    tail -n3 "$Memo" >"$Work/end.txt"
    printf '%s\n' "$ProgramSeparator" "$(printf "$ProgramSetTimeout" 150)" "$ProgramDisconnecting" |
        cmp -s - "$Work/end.txt" || Fail "the log does not end with the restore:$(printf '\n'; cat "$Memo")"
}

case $Scenario in
search)
    StartEmulator 5 --cap 500
    StartProgram
    Ui 'click DetectTimeout' 'click Start' "wait-log ${ProgramMaximum%%%s*}" wait-idle log \
        >"$Work/memo.txt"
    ExpectLine "$Work/memo.txt" "$(printf "$ProgramSetTimeout" 100000)"
    ExpectLine "$Work/memo.txt" "$(ProgramProbeLine 100 "$ProgramPassed")"
    ExpectLine "$Work/memo.txt" "$(ProgramProbeLine 1000 "$ProgramNotPassed")"
    ExpectLine "$Work/memo.txt" "$ProgramSearching"
    ExpectRunEnd "$Work/memo.txt"
    Max=$(ProgramMaximumIn "$Work/memo.txt")
    [ -n "$Max" ] && [ "$Max" -ge 400 ] && [ "$Max" -lt 500 ] ||
        Fail "the maximum is not just below the cap of 500 ms: $(cat "$Work/memo.txt")"
    ExpectRestored
    Ui 'click Close'
    ExpectExit 10000
    echo "maximum $Max ms"
    ;;
stop)
    StartEmulator 6
    StartProgram
    Ui 'click DetectTimeout' 'click Start' "wait-log $(ProgramProbeLine 10000)" 'click Stop' wait-idle log \
        >"$Work/memo.txt"
    ExpectLine "$Work/memo.txt" "$(ProgramProbeLine 1000 "$ProgramPassed")"
    ExpectLine "$Work/memo.txt" "$(ProgramProbeLine 10000 "$ProgramStopped")"
    ! grep -qxF -e "$ProgramSearching" -e "$ProgramAllPassed" "$Work/memo.txt" &&
        [ -z "$(ProgramMaximumIn "$Work/memo.txt")" ] ||
        Fail "a verdict or a search after Stop: $(cat "$Work/memo.txt")"
    ExpectRunEnd "$Work/memo.txt"
    ExpectRestored
    Ui 'click Close'
    ExpectExit 10000
    ;;
close)
    StartEmulator 7
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 10000)" 'click Close'
    # Closing acts as Stop: the program ends once the run has restored the timeout.
    ExpectExit 15000
    ExpectRestored
    ;;
closefail)
    StartEmulator 8
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 10000)"
    # The register gone, then closed: the restore fails, and the program
    # says so before it ends.
    ormant_stop_emulator
    Ui 'click Close' msgbox >"$Work/box.txt"
    head -n1 "$Work/box.txt" | grep -qxF "caption Тест таймаута ФР" &&
        grep -q '^text Ошибка драйвера: ' "$Work/box.txt" ||
        Fail "no message box with the failed restore: $(cat "$Work/box.txt")"
    ExpectExit 10000
    ;;
endsession)
    StartEmulator 9
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 10000)"
    # The session's end is refused during the run; the program restores the
    # timeout and then ends by itself.
    ! "$WineRun" "$WINEPREFIX" wineboot --end-session </dev/null >"$Work/wineboot.out" 2>&1 ||
        Fail "the end of the session was not refused during the run"
    ExpectExit 15000
    ExpectRestored
    ;;
unregistered)
    Register /u || Fail "regsvr32 /u failed: $(cat "$Dir/setup.log")"
    trap 'Register; Cleanup' EXIT
    StartProgram
    Ui 'click Start' 'wait-log Addin.Ormant' wait-idle log >"$Work/memo.txt"
    [ "$(wc -l <"$Work/memo.txt")" -eq 1 ] &&
        grep -qE '\((0x800401F3 CO_E_CLASSSTRING|0x80040154 REGDB_E_CLASSNOTREG)\): "Addin\.Ormant"$' \
            "$Work/memo.txt" ||
        Fail "the log is not the one OLE failure: $(cat "$Work/memo.txt")"
    Ui 'click Driver' msgbox >"$Work/box.txt"
    printf 'caption Тест таймаута ФР\ntext %s\n' "$(cat "$Work/memo.txt")" |
        cmp -s - "$Work/box.txt" || Fail "the message box is not the same failure: $(cat "$Work/box.txt")"
    Ui 'click Close'
    ExpectExit 10000
    ;;
hold)
    # The log's scroll arrow held down for 2.5 s during the 1000 ms probe: the
    # system's modal loop runs meanwhile, and the ACK must still leave on time.
    StartEmulator 10 --cap 1100
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 1000)" log-arrow >"$Work/arrow.txt"
    read -r X Y <"$Work/arrow.txt"
    xdotool mousemove "$X" "$Y" mousedown 1
    sleep 2.5
    xdotool mouseup 1
    # The ACK has gone by now: Stop ends the run after the 1000 ms verdict.
    Ui 'click Stop' wait-idle log >"$Work/memo.txt"
    ExpectLine "$Work/memo.txt" "$(ProgramProbeLine 1000 "$ProgramPassed")"
    ExpectRunEnd "$Work/memo.txt"
    # The 1000 ms probe's ACK as the register saw it: from the answer's last
    # byte, within a step or two (the program's and the line's latency).
    "$WineRun" "$WINEPREFIX" "$ORMANT_E2E_REPORT" "Z:$Work/emulator.log" "Z:$Work/memo.txt" \
        </dev/null 2>&1 | tr -d '\r' >"$Work/report.txt" || Fail "no report: $(cat "$Work/report.txt")"
    Held=$(awk '$1 == 1000 && $4 == "OK" { print $2 }' "$Work/report.txt")
    [ -n "$Held" ] && [ "$Held" -ge 1000 ] && [ "$Held" -lt 1060 ] ||
        Fail "the 1000 ms probe's ACK came after ${Held:-no} ms: $(cat "$Work/emulator.log")"
    ExpectRestored
    Ui 'click Close'
    ExpectExit 10000
    echo "ACK after $Held ms"
    ;;
endsessionkill)
    # The session ends during a run and the system ends the program the moment
    # its window has handled that: the register has its timeout back already.
    StartEmulator 21
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 10000)" end-session >"$Work/handled.txt"
    wait "$ExePid" || true
    ExePid=
    ExpectRestored
    cat "$Work/handled.txt"
    ;;
startfail)
    # The window's start-up failing while its controls are made, and its
    # taskbar button, which needs a window on a display.
    "$WineRun" "$WINEPREFIX" "${ORMANT_E2E_WINTESTS:?}" --gtest_filter='MainWindow.*' \
        </dev/null >"$Work/tests.out" 2>&1 || Fail "$(cat "$Work/tests.out")"
    ;;
suspend)
    # The system going to sleep during a probe acts as Stop, and the register
    # has its timeout back before the sleep, which freezes the program the
    # moment its window has handled the notice.
    StartEmulator 11
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 10000)" suspend >"$Work/handled.txt"
    ExpectRestored
    Ui resume wait-idle log >"$Work/memo.txt"
    ExpectLine "$Work/memo.txt" "$(ProgramProbeLine 10000 "$ProgramStopped")"
    ExpectRunEnd "$Work/memo.txt"
    Ui 'click Close'
    ExpectExit 10000
    cat "$Work/handled.txt"
    ;;
driverdialog)
    # A driver that shows its dialog without an owner: the window takes no
    # input until it closes. A real click on Start does nothing meanwhile and
    # starts a run afterwards.
    StartEmulator 12
    ORMANT_STANDIN_DIALOG_OWNER=none StartProgram
    Ui 'point Start' >"$Work/start.txt"
    read -r X Y <"$Work/start.txt"
    Ui 'click Driver' dialog enabled >"$Work/dialog.txt"
    printf '%s\n' "owner none" "enabled 0" | diff - "$Work/dialog.txt" >&2 ||
        Fail "the window takes input beside the driver's dialog (expected < > found)"
    xdotool mousemove "$X" "$Y" click 1
    sleep 1
    Ui log >"$Work/memo.txt"
    [ "$(tr -d '\n' <"$Work/memo.txt")" = "" ] || Fail "Start worked beside the driver's dialog: $(cat "$Work/memo.txt")"
    Ui dialog-cancel enabled >"$Work/after.txt"
    ExpectLine "$Work/after.txt" "enabled 1"
    xdotool mousemove "$X" "$Y" click 1
    Ui "wait-log $(ProgramProbeLine 100 "$ProgramPassed")" 'click Stop' wait-idle
    Ui 'click Close'
    ExpectExit 10000
    ;;
mute)
    # A register that falls silent for 4 s at the 1000 ms probe's command
    # (power lost, a cable pulled and plugged back): the window answers within
    # 500 ms all the while, and "Закрыть", pressed once the register answers
    # again, ends the program after the restore.
    StartEmulator 20 --fault mute --mute-after 1 --mute-seconds 4
    StartProgram
    Ui 'click Start' "wait-log $(ProgramProbeLine 1000)" 'responsive 3' >"$Work/responsive.txt" ||
        Fail "the window did not answer while the register was silent"
    for _ in $(seq 100); do
        grep -q "$EmuMuteOver" "$Work/emulator.log" && break
        sleep 0.1
    done
    grep -q "$EmuMuteOver" "$Work/emulator.log" || Fail "the register stayed silent: $(tail -n 5 "$Work/emulator.log")"
    Ui 'click Close'
    ExpectExit 15000
    ExpectRestored
    cat "$Work/responsive.txt"
    ;;
chain)
    # Both ends Windows programs: ormant-emu.exe on COM13, the program on COM14.
    StartPair 13 14
    StartWinEmulator --device COM13 --cap 3000
    Search 2900 3000
    # Ctrl+C (Wine turns SIGINT into it) ends the emulator cleanly: its log
    # ends with "stopped" and nothing of it is left.
    kill -INT "$WinEmuPid"
    Status=0
    wait "$WinEmuPid" || Status=$?
    WinEmuPid=
    Stopped=no
    for _ in $(seq 100); do
        # A Windows program's text file ends its lines with CR LF.
        tail -n1 "$Work/emulator.log" | tr -d '\r' | grep -q "$EmuStopped" && Stopped=yes && break
        sleep 0.1
    done
    sleep 0.5
    [ $Status -eq 0 ] && [ $Stopped = yes ] && [ -z "$(ormant_prefix_pids "$WINEPREFIX" 'ormant-emu\.exe')" ] ||
        Fail "ormant-emu.exe did not end cleanly on Ctrl+C ($Status): $(tail -n3 "$Work/emulator.log")"
    ;;
chainlinux)
    # The Linux emulator on a serial device (--device), the program on COM16.
    StartPair 15 16
    [ -x "$Emulator" ] || Fail "no register emulator for this machine"
    "$Emulator" --device "$WINEPREFIX/dosdevices/com15" --cap 500 --log "$Work/emulator.log" \
        </dev/null >"$Work/emulator.out" 2>&1 &
    OrmantEmulatorPid=$!
    for _ in $(seq 50); do
        grep -q '^DEVICE ' "$Work/emulator.out" && break
        sleep 0.1
    done
    grep -q '^DEVICE ' "$Work/emulator.out" || Fail "ormant-emu --device: $(cat "$Work/emulator.out")"
    Search 400 500
    ;;
emubad)
    # What ormant-emu.exe refuses, each with its reason and exit code 2. (A
    # port held by another program cannot be made here: Wine lets a second
    # program open a COM port.)
    StartPair 17 18
    ln -sf /dev/null "$WINEPREFIX/dosdevices/com19"
    Link=$WINEPREFIX/dosdevices/com19
    while IFS='|' read -r Args Reason; do
        Status=0
        # shellcheck disable=SC2086
        "$WineRun" "$WINEPREFIX" "$ORMANT_E2E_WINEMU" $Args </dev/null >"$Work/bad.out" 2>&1 || Status=$?
        [ $Status -eq 2 ] && grep -qF -- "$Reason" "$Work/bad.out" ||
            Fail "ormant-emu.exe $Args: exit $Status, not 2 with \"$Reason\": $(cat "$Work/bad.out")"
    done <<'EOF_CASES'
--device COM77|COM77: no such port
--device COM19|COM19 is not a serial port
--device COM17 --baud 12345|unsupported baud rate 12345
--device LPT1|LPT1 is not a COM port
--device COM17 --link x|--link is for Linux
--cap 3000|Windows has no pseudo-terminals
--cap 3k|--cap: not a number: 3k
EOF_CASES
    ;;
layout)
    # At 96 dpi, then at 144 (the prefix's own setting, put back however this
    # ends): the rectangles are the table's, scaled; the rest is the same.
    Dpi() {
        "$WineRun" "$WINEPREFIX" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
            /d "$1" /f </dev/null >>"$Work/reg.out" 2>&1 || Fail "reg add failed: $(cat "$Work/reg.out")"
    }
    trap 'Dpi 96; Cleanup' EXIT
    for Dpi in 96 144; do
        Dpi $Dpi
        StartProgram
        Ui "layout $Dpi" >"$Work/layout.txt"
        # Outside a run the program ends with the session.
        "$WineRun" "$WINEPREFIX" wineboot --end-session </dev/null >>"$Work/wineboot.out" 2>&1 ||
            Fail "the end of the session was refused outside a run"
        ExpectExit 10000
        printf '%s\n' "caption Тест таймаута ФР" "sysmenu 1 minimize 1 maximize 0 sizable 0" \
            "focus btnStart" | diff - "$Work/layout.txt" >&2 || Fail "the window differs (expected < > found)"
    done
    ;;
*)
    Fail "unknown scenario"
    ;;
esac
