#!/bin/bash
# Installs what building and testing need, from Debian's packages, when it is
# missing. With --windows also the mingw-w64 cross compiler and Wine for the
# Windows code paths.
set -euo pipefail

Packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
          fonts-dejavu-core xvfb xauth)
if [ "${1:-}" = "--windows" ]; then
    Packages+=(g++-mingw-w64-x86-64 wine64 googletest)
fi

Missing=()
for P in "${Packages[@]}"; do
    dpkg-query -W -f='${Status}' "$P" 2>/dev/null | grep -q "install ok installed" || Missing+=("$P")
done
[ ${#Missing[@]} -eq 0 ] && exit 0

echo "== installing: ${Missing[*]}"
Sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup.sh: run as root or install sudo" >&2; exit 1; }
    Sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${Sudo[@]}" apt-get update -qq
"${Sudo[@]}" apt-get install -y -qq --no-install-recommends "${Missing[@]}"
