#!/bin/bash
# Installs what building and testing need, from Debian's packages, when it is
# missing. With --windows also the mingw-w64 cross compilers and Wine (64- and
# 32-bit) for the Windows code paths. Needs root (or sudo) only when something
# is missing; a user whose machine has it all runs this without either.
set -euo pipefail

Packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
          fonts-dejavu-core xvfb xauth)
Windows=false
if [ "${1:-}" = "--windows" ]; then
    Windows=true
    Packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386
               fonts-wine googletest zip unzip xdotool socat)
fi

Missing=()
for P in "${Packages[@]}"; do
    dpkg-query -W -f='${Status}' "$P" 2>/dev/null | grep -q "install ok installed" || Missing+=("$P")
done
[ ${#Missing[@]} -eq 0 ] && exit 0
# 32-bit Wine alone missing where it cannot be installed (see below): the
# 32-bit Windows tests step aside, loudly, and nothing else needs it.
if [ "${Missing[*]}" = wine32:i386 ] && [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "== NOTE: wine32:i386 is not installed; the 32-bit Windows tests will not run" >&2
    exit 0
fi

echo "== installing: ${Missing[*]}"
Sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
        echo "setup.sh: these packages are missing: ${Missing[*]}" >&2
        echo "          install them as root, or install sudo" >&2
        exit 1
    }
    Sudo=(sudo)
fi
# Wine's 32-bit half comes from the i386 architecture.
if $Windows && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${Sudo[@]}" dpkg --add-architecture i386
fi
# sudo drops the environment, so the setting goes on the command itself.
Apt=("${Sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
# A mirror caught mid-sync fails one index or another; the install below
# still finds every package in what did come, or says which it cannot.
"${Apt[@]}" update -qq || echo "setup.sh: apt-get update reported errors; installing from what it has" >&2
# 32-bit Wine alone may not install (its i386 libraries a step behind the
# amd64 ones on a mirror mid-sync): everything else still does, and the
# 32-bit Windows tests then step aside, loudly, as on a kernel without
# 32-bit support.
Rest=()
Wine32=()
for P in "${Missing[@]}"; do
    if [ "$P" = wine32:i386 ]; then Wine32=("$P"); else Rest+=("$P"); fi
done
[ ${#Rest[@]} -eq 0 ] || "${Apt[@]}" install -y -qq --no-install-recommends "${Rest[@]}"
if [ ${#Wine32[@]} -gt 0 ] && ! "${Apt[@]}" install -y -qq --no-install-recommends "${Wine32[@]}"; then
    echo "== NOTE: setup.sh could not install wine32:i386; the 32-bit Windows tests will not run" >&2
fi
