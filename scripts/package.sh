#!/bin/bash
# Makes the operator's archive dist/ormant-timeout-<version>.zip from the two
# programs that scripts/build-windows.sh put in dist/win32 and dist/win64, the
# guide in Russian and a short readme. The version is the program's file
# version in app/ormant.rc. The stand-in driver is a tool for tests and
# demonstrations and is not part of it.
set -euo pipefail
Root=$(cd "$(dirname "$0")/.." && pwd)
Dist=$Root/dist

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

Name=ormant-timeout-$Version
Stage=$(mktemp -d)
trap 'rm -rf "$Stage"' EXIT
mkdir -p "$Stage/$Name/win32" "$Stage/$Name/win64"
cp "$Dist/win32/ormant-timeout.exe" "$Stage/$Name/win32/"
cp "$Dist/win64/ormant-timeout.exe" "$Stage/$Name/win64/"
# Notepad of older Windows wants CR LF; the guide keeps its BOM.
sed 's/$/\r/' "$Root/docs/guide-ru.md" >"$Stage/$Name/guide-ru.txt"
printf '\xEF\xBB\xBF%s\r\n' \
    "Тест таймаута ФР $Version. win32\\ormant-timeout.exe — 32-битная программа," \
    "win64\\ormant-timeout.exe — 64-битная (берите ту же разрядность, что у драйвера ФР)." \
    "Руководство — guide-ru.txt. Программа поставляется как есть, без каких-либо гарантий." \
    >"$Stage/$Name/readme.txt"

Zip=$Dist/$Name.zip
rm -f "$Zip"
(cd "$Stage" && cmake -E tar cf "$Zip" --format=zip -- "$Name")
echo "== $Zip"
cmake -E tar tvf "$Zip"
