#!/bin/bash
# Makes the operator's archive ormant-timeout-<version>.zip from the two
# programs that scripts/build-windows.sh put in dist/win32 and dist/win64, the
# guide in Russian and a short readme, and SHA256SUMS beside it. The version is
# the program's file version in app/ormant.rc. The stand-in driver is a tool
# for tests and demonstrations and is not part of it.
#   package.sh [FOLDER]   where the archive and SHA256SUMS go (default: the
#                         programs' folder)
#   ORMANT_DIST           the programs' folder (default dist/)
# The same commit gives the same archive, byte for byte: every file carries
# the commit's time (SOURCE_DATE_EPOCH wins; outside git 1980-01-01, the
# earliest a zip can hold), in a fixed order, with no owner or extra fields.
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
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
Epoch=${SOURCE_DATE_EPOCH:-$(git -C "$Root" log -1 --format=%ct 2>/dev/null || echo 315532800)}

Name=ormant-timeout-$Version
Stage=$(mktemp -d)
trap 'rm -rf "$Stage"' EXIT
mkdir -p "$Stage/$Name/win32" "$Stage/$Name/win64"
cp "$Dist/win32/ormant-timeout.exe" "$Stage/$Name/win32/"
cp "$Dist/win64/ormant-timeout.exe" "$Stage/$Name/win64/"
# Notepad of older Windows wants CR LF; the guide keeps its BOM.
sed 's/$/\r/' "$Root/docs/guide-ru.md" >"$Stage/$Name/guide-ru.txt"
{
    printf '\xEF\xBB\xBF'
    printf '%s\r\n' \
        "Тест таймаута ФР $Version. win32\\ormant-timeout.exe — 32-битная программа," \
        "win64\\ormant-timeout.exe — 64-битная (берите ту же разрядность, что у драйвера ФР)." \
        "Руководство — guide-ru.txt. Программа поставляется как есть, без каких-либо гарантий."
} >"$Stage/$Name/readme.txt"
chmod 644 "$Stage/$Name"/*.txt "$Stage/$Name"/win*/*
# zip stores local time: in UTC every machine writes the same.
export TZ=UTC
find "$Stage/$Name" -exec touch -h -d "@$Epoch" {} +

mkdir -p "$Out"
Zip=$(realpath "$Out")/$Name.zip
rm -f "$Zip"
(cd "$Stage" && find "$Name" -type f | LC_ALL=C sort | zip -X -D -q -9 "$Zip" -@)
(cd "$Out" && sha256sum "$Name.zip" >SHA256SUMS)
echo "== $Zip"
cat "$Out/SHA256SUMS"
unzip -l "$Zip"
