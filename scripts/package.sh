#!/bin/bash
# Makes the operator's archive ormant-timeout-<version>.zip from the two
# programs that scripts/build-windows.sh put in dist/win32 and dist/win64, the
# guide in Russian and a short readme, and SHA256SUMS beside it. The version is
# the program's file version in app/ormant.rc. The stand-in driver is a tool
# for tests and demonstrations and is not part of it: it goes, with the
# register emulator and the bench report, into the bench kit
# ormant-bench-<version>.zip, in bench/ beside the release with its own
# SHA256SUMS.
#   package.sh [FOLDER]   where the archive and SHA256SUMS go (default: the
#                         programs' folder)
#   ORMANT_DIST           the programs' folder (default dist/)
# The same commit gives the same archive, byte for byte: every file carries
# the commit's time (ormant_release_epoch), in a fixed order, with no owner or
# extra fields.
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
. "$Root/scripts/lib/common.sh"
Dist=${ORMANT_DIST:-$Root/dist}
Out=${1:-$Dist}

Version=$(sed -n 's/^ *VALUE "FileVersion", "\([0-9.]*\)".*/\1/p' "$Root/app/ormant.rc")
if [ -z "$Version" ]; then
    echo "package.sh: no FileVersion in app/ormant.rc" >&2
    exit 1
fi
for Bits in 32 64; do
    if [ ! -f "$Dist/win$Bits/ormant-timeout.exe" ]; then
        echo "package.sh: $Dist/win$Bits/ormant-timeout.exe is missing; run scripts/build-windows.sh" >&2
        exit 1
    fi
done
command -v zip >/dev/null || { echo "package.sh: zip is missing (scripts/setup.sh --windows)" >&2; exit 1; }
Epoch=$(ormant_release_epoch "$Root")

Name=ormant-timeout-$Version
Stage=$(mktemp -d)
trap 'rm -rf "$Stage"' EXIT
mkdir -p "$Stage/$Name/win32" "$Stage/$Name/win64"
cp "$Dist/win32/ormant-timeout.exe" "$Stage/$Name/win32/"
cp "$Dist/win64/ormant-timeout.exe" "$Stage/$Name/win64/"
# Notepad of older Windows wants CR LF, and a BOM to take the text for
# UTF-8 (the guide has its own).
Notepad() {
    [ "$(head -c3 "$1")" = $'\xEF\xBB\xBF' ] || printf '\xEF\xBB\xBF'
    sed 's/$/\r/' "$1"
}
Notepad "$Root/docs/guide-ru.md" >"$Stage/$Name/guide-ru.txt"
{
    printf '\xEF\xBB\xBF'
    printf '%s\r\n' \
        "Тест таймаута ФР $Version. win32\\ormant-timeout.exe — 32-битная программа," \
        "win64\\ormant-timeout.exe — 64-битная (берите ту же разрядность, что у драйвера ФР)." \
        "Руководство — guide-ru.txt. Программа поставляется как есть, без каких-либо гарантий."
} >"$Stage/$Name/readme.txt"
# Zip FOLDER NAME OUT: the staged FOLDER/NAME as OUT/NAME.zip, the same bytes
# from the same tree (zip stores local time: in UTC every machine writes the
# same), and OUT/SHA256SUMS for it.
Zip() {
    local Folder=$1 Name=$2 Out=$3 Archive
    find "$Folder/$Name" -type f -exec chmod 644 {} +
    find "$Folder/$Name" -exec env TZ=UTC touch -h -d "@$Epoch" {} +
    mkdir -p "$Out"
    Archive=$(realpath "$Out")/$Name.zip
    rm -f "$Archive"
    (cd "$Folder" && find "$Name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$Archive" -@)
    (cd "$Out" && sha256sum "$Name.zip" >SHA256SUMS)
    echo "== $Archive"
    cat "$Out/SHA256SUMS"
    unzip -l "$Archive"
}
Zip "$Stage" "$Name" "$Out"

# The bench kit: the register emulator, the report and the stand-in driver
# for a tester's bench, with the procedure; in a folder of its own, with its
# own SHA256SUMS. The 32-bit tools run on 64-bit Windows as well.
Kit=ormant-bench-$Version
for Tool in ormant-emu.exe ormant-report.exe ormant-standin.dll; do
    for Bits in 32 64; do
        [ -f "$Dist/kit/win$Bits/$Tool" ] ||
            { echo "package.sh: $Dist/kit/win$Bits/$Tool is missing; run scripts/build-windows.sh" >&2; exit 1; }
    done
done
mkdir -p "$Stage/$Kit/win32" "$Stage/$Kit/win64"
cp "$Dist/kit/win32/ormant-emu.exe" "$Dist/kit/win32/ormant-report.exe" "$Stage/$Kit/"
cp "$Dist/kit/win32/ormant-standin.dll" "$Stage/$Kit/win32/"
cp "$Dist/kit/win64/ormant-standin.dll" "$Stage/$Kit/win64/"
Notepad "$Root/docs/guide-ru.md" >"$Stage/$Kit/guide-ru.txt"
Notepad "$Root/docs/bench-en.md" >"$Stage/$Kit/bench-en.txt"
Zip "$Stage" "$Kit" "$Out/bench"
