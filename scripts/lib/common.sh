# shellcheck shell=bash
# Sourced (". scripts/lib/common.sh"), not run: finding the register emulator,
# the Windows build folders and Wine, starting the emulator and an X server of
# our own, written once for the scripts, the benchmark, the Wine runner and the
# Windows end-to-end harness. Each function returns non-zero with the reason
# on stderr; nothing here calls exit or sets traps.
#
#   ormant_find_emulator ROOT [--build]
#       Sets OrmantEmulator to the register emulator built for this machine,
#       as an absolute path: $ORMANT_HOST_EMULATOR where set (taken as it
#       is), else ROOT/build/emulator/ormant-emu or
#       ROOT/build-emu/emulator/ormant-emu, the first that is there. With
#       --build, where neither is, builds it alone into ROOT/build-emu/ (the
#       preset emu) first. Fails when there is none, or it does not build.
#   ormant_win_build ROOT BITS
#       Prints the build folder of the BITS-bit (32 or 64) Windows program:
#       $ORMANT_WIN32_BUILD or $ORMANT_WIN64_BUILD where set, else
#       ROOT/build-win32 or ROOT/build-win64 (the presets win32 and win64).
#   ormant_release_epoch ROOT
#       Prints the time the release's files carry, in seconds since 1970: the
#       commit's ($SOURCE_DATE_EPOCH wins; outside git 1980-01-01, the
#       earliest a zip can hold), so the same commit gives the same bytes.
#   ormant_find_wine [PROGRAM]
#       Sets OrmantWine to the Wine that runs the Windows programs:
#       $ORMANT_WINE where set (taken as it is), else /usr/lib/wine/wine64,
#       wine64 or wine, the first there is; and OrmantWineServer to the
#       wineserver beside it, else the one on PATH. Fails when there is no
#       Wine. With PROGRAM, a 32-bit .exe, OrmantWine is the 32-bit loader
#       beside the one found, where there is one: the 64-bit loader would run
#       it as a child of start.exe, out of reach of the signals (Ctrl+C)
#       that the caller sends to the pid it started.
#   ormant_prefix_pids PREFIX PATTERN
#       Prints the pids of the processes of the Wine prefix PREFIX whose
#       program (the first word of the command line) matches the extended
#       regular expression PATTERN; other prefixes' (another test run's)
#       are not looked at.
#   ormant_start_emulator EMU LINK LOG OUT [EMULATOR OPTION...]
#       Starts EMU --link LINK --log LOG OPTION... in the background (stdin
#       /dev/null, stdout and stderr to OUT) and waits up to 10 s for its
#       "PTY <device>" line. Sets OrmantEmulatorPid and OrmantEmulatorPty.
#       An emulator that dies or never gets its line ready fails with its
#       output (and is ended).
#   ormant_stop_emulator
#       Ends the emulator started last (if any) and waits for it.
#   ormant_start_xvfb DIR
#       Starts Xvfb on a free display (-displayfd, never a fixed number),
#       writes DIR/display (":N"), DIR/xvfb.pid and DIR/xvfb.log, exports
#       DISPLAY and sets OrmantXvfbPid. Fails with Xvfb's log.
#   ormant_stop_xvfb DIR
#       Ends the X server whose pid is in DIR/xvfb.pid, from this shell or an
#       earlier one (a server meant to outlive the shell that started it).
#   ormant_runs_32bit
#       Whether this machine's kernel runs 32-bit x86 programs, which 32-bit
#       Wine needs. Some virtual machines' kernels do not (Exec format error).
#   ormant_cleanup
#       Ends the emulator and the X server that this shell started; meant for
#       an EXIT trap.

OrmantEmulator=
OrmantWine=
OrmantWineServer=
OrmantEmulatorPid=
OrmantEmulatorPty=
OrmantXvfbPid=
OrmantXvfbDir=

ormant_find_emulator() {
    local Root=$1 Build=${2:-} Emu=${ORMANT_HOST_EMULATOR:-} Candidate
    if [ -z "$Emu" ]; then
        for Candidate in "$Root/build/emulator/ormant-emu" "$Root/build-emu/emulator/ormant-emu"; do
            if [ -x "$Candidate" ]; then
                Emu=$Candidate
                break
            fi
        done
    fi
    if [ -z "$Emu" ] && [ "$Build" = --build ]; then
        echo "== building the register emulator for this machine in build-emu/"
        if ! (cd "$Root" && cmake --preset emu) || ! cmake --build "$Root/build-emu" -j2 --target ormant-emu; then
            echo "the register emulator did not build in $Root/build-emu" >&2
            return 1
        fi
        Emu=$Root/build-emu/emulator/ormant-emu
    fi
    if [ -z "$Emu" ]; then
        echo "no register emulator in $Root/build/emulator or $Root/build-emu/emulator" \
            "(ORMANT_HOST_EMULATOR names another)" >&2
        return 1
    fi
    OrmantEmulator=$(realpath -m -- "$Emu")
}

ormant_win_build() {
    local Root=$1 Bits=$2 Var
    case $Bits in
    32 | 64) ;;
    *)
        echo "there is no $Bits-bit Windows build (32 or 64)" >&2
        return 1
        ;;
    esac
    Var=ORMANT_WIN${Bits}_BUILD
    echo "${!Var:-$Root/build-win$Bits}"
}

ormant_release_epoch() {
    echo "${SOURCE_DATE_EPOCH:-$(git -C "$1" log -1 --format=%ct 2>/dev/null || echo 315532800)}"
}

ormant_find_wine() {
    local Candidate
    OrmantWine=${ORMANT_WINE:-}
    if [ -z "$OrmantWine" ]; then
        for Candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
            if [ -n "$Candidate" ] && [ -x "$Candidate" ]; then
                OrmantWine=$Candidate
                break
            fi
        done
    fi
    if [ -z "$OrmantWine" ]; then
        echo "Wine not found (install wine64 or set ORMANT_WINE)" >&2
        OrmantWineServer=
        return 1
    fi
    OrmantWineServer=$(dirname "$OrmantWine")/wineserver
    [ -x "$OrmantWineServer" ] || OrmantWineServer=$(command -v wineserver || echo wineserver)
    if [ -n "${1:-}" ] && [ "$(ormant_pe_machine "$1")" = 014c ] &&
        [ -x "$(dirname "$OrmantWine")/wine" ] && ormant_runs_32bit; then
        OrmantWine=$(dirname "$OrmantWine")/wine
    fi
    return 0
}

ormant_prefix_pids() {
    local Pid
    for Pid in $(ls /proc | grep -E '^[0-9]+$'); do
        head -z -n1 "/proc/$Pid/cmdline" 2>/dev/null | tr -d '\0' | grep -qE "$2" || continue
        tr '\0' '\n' <"/proc/$Pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$1" && echo "$Pid"
    done
    return 0
}

# The machine field of a PE file's header, in hex (014c x86, 8664 x86-64);
# nothing for a file that is not one.
ormant_pe_machine() {
    local Offset
    [ -f "$1" ] && [ "$(head -c2 "$1")" = MZ ] || return 0
    Offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    [ "$(od -An -c -j"$Offset" -N4 "$1" | tr -d ' ')" = 'PE\0\0' ] || return 0
    od -An -tx2 -j$((Offset + 4)) -N2 "$1" | tr -d ' '
}

ormant_start_emulator() {
    local Emu=$1 Link=$2 Log=$3 Out=$4
    shift 4
    if [ ! -x "$Emu" ]; then
        echo "no register emulator at $Emu" >&2
        return 1
    fi
    rm -f "$Out"
    "$Emu" --link "$Link" --log "$Log" "$@" </dev/null >"$Out" 2>&1 &
    OrmantEmulatorPid=$!
    local _
    for _ in $(seq 100); do
        grep -q '^PTY ' "$Out" 2>/dev/null && break
        kill -0 "$OrmantEmulatorPid" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q '^PTY ' "$Out" 2>/dev/null; then
        echo "the register emulator did not get its line ready:" >&2
        cat "$Out" >&2 2>/dev/null || true
        ormant_stop_emulator
        return 1
    fi
    OrmantEmulatorPty=$(sed -n 's/^PTY //p' "$Out" | head -n1)
}

ormant_stop_emulator() {
    if [ -n "$OrmantEmulatorPid" ]; then
        kill "$OrmantEmulatorPid" 2>/dev/null || true
        wait "$OrmantEmulatorPid" 2>/dev/null || true
    fi
    OrmantEmulatorPid=
    OrmantEmulatorPty=
}

ormant_start_xvfb() {
    local Dir=$1 _
    mkdir -p "$Dir"
    rm -f "$Dir/display" "$Dir/display.tmp"
    # Xvfb writes the display's number to fd 3 once it listens.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$Dir/display.tmp" \
        </dev/null >"$Dir/xvfb.log" 2>&1 &
    OrmantXvfbPid=$!
    OrmantXvfbDir=$Dir
    echo "$OrmantXvfbPid" >"$Dir/xvfb.pid"
    for _ in $(seq 100); do
        [ -s "$Dir/display.tmp" ] && break
        kill -0 "$OrmantXvfbPid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$Dir/display.tmp" ]; then
        echo "Xvfb did not start: $(cat "$Dir/xvfb.log" 2>/dev/null)" >&2
        ormant_stop_xvfb "$Dir"
        return 1
    fi
    echo ":$(head -n1 "$Dir/display.tmp")" >"$Dir/display"
    DISPLAY=$(cat "$Dir/display")
    export DISPLAY
}

ormant_stop_xvfb() {
    local Dir=$1 Pid
    if [ -f "$Dir/xvfb.pid" ]; then
        Pid=$(cat "$Dir/xvfb.pid")
        kill "$Pid" 2>/dev/null || true
        # Only a child of this shell can be waited for.
        [ "$Pid" = "$OrmantXvfbPid" ] && wait "$Pid" 2>/dev/null
        rm -f "$Dir/xvfb.pid"
    fi
    if [ "$Dir" = "$OrmantXvfbDir" ]; then
        OrmantXvfbPid=
        OrmantXvfbDir=
    fi
    return 0
}

ormant_runs_32bit() {
    local Probe
    for Probe in /lib/ld-linux.so.2 /usr/lib/wine/wine; do
        [ -x "$Probe" ] && { "$Probe" --version >/dev/null 2>&1; [ $? -ne 126 ]; return; }
    done
    return 1
}

ormant_cleanup() {
    ormant_stop_emulator
    [ -n "$OrmantXvfbDir" ] && ormant_stop_xvfb "$OrmantXvfbDir"
    return 0
}
