#!/usr/bin/env bash
# Builds the Windows program (PrintCourier.exe, Quayport.dll, the folder that ships and its
# installer) with MinGW-w64 and a Qt kit for Windows, then installs and runs it under Wine
# (tests/windows/winerun.sh). Called by the test command after the Linux suites; needs the Linux
# build (cloudsim) that scripts/setup.sh makes.
#
# The kit: COURIER_QT_KIT (a kit folder or its .tar.xz), else qt5*-x86_64-w64-mingw32.tar.xz in
# COURIER_KITS_DIR (default ../shared/kits beside the repository), else one built earlier by
# scripts/build-qt-kit.sh into build/qt-kit/ (about an hour on two cores). Without one the run is skipped: the script says so and exits with 77.
#
#   scripts/windows.sh            build, install and run under Wine
#   scripts/windows.sh build      build the program and the installer only
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
linux_build="${COURIER_BUILD_DIR:-$here/build}"
win_build="${COURIER_WINDOWS_BUILD_DIR:-$here/build-win64}"
mode="${1:-run}"

kits_dir="${COURIER_KITS_DIR:-$here/../shared/kits}"
find_kit() {
  local candidate
  if [ -n "${COURIER_QT_KIT:-}" ]; then
    # Named, but not there: a mistake to report, not a reason to skip quietly.
    [ -e "$COURIER_QT_KIT" ] || { echo "windows: COURIER_QT_KIT=$COURIER_QT_KIT does not exist" >&2; return 2; }
    echo "$COURIER_QT_KIT"
    return 0
  fi
  for candidate in "$kits_dir"/qt5*-x86_64-w64-mingw32.tar.xz "$here"/build/qt-kit/qt5*-x86_64-w64-mingw32.tar.xz; do
    [ -e "$candidate" ] && { echo "$candidate"; return 0; }
  done
  return 1
}

found=0
kit="$(find_kit)" || found=$?
[ "$found" -eq 2 ] && exit 1
if [ "$found" -ne 0 ]; then
  echo "windows: SKIPPED: no Qt kit for Windows (set COURIER_QT_KIT to a kit folder or .tar.xz," \
       "put one in ../shared/kits/, or build one with scripts/build-qt-kit.sh, about an hour)"
  exit 77
fi

source "$here/scripts/packages.sh"
ensure_packages g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build nsis \
  qttranslations5-l10n wine wine64 xvfb xauth x11-utils xdotool socat locales iproute2 xz-utils

# A packed kit is unpacked once into the Windows build's folder; a new tarball replaces it.
if [ -f "$kit" ]; then
  unpacked="$win_build-kit"
  stamp="$unpacked/.from"
  want="$(stat -c '%n %s %Y' "$(readlink -f "$kit")")"
  if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
    echo "windows: unpacking $kit"
    rm -rf "$unpacked"
    mkdir -p "$unpacked"
    tar -xJf "$kit" -C "$unpacked"
    echo "$want" > "$stamp"
  fi
  kit_dir="$(find "$unpacked" -mindepth 2 -maxdepth 4 -type d -path '*/lib/cmake/Qt5' | head -n 1)"
  kit_dir="${kit_dir%/lib/cmake/Qt5}"
else
  kit_dir="$kit"
fi
[ -d "$kit_dir/lib/cmake/Qt5" ] || { echo "windows: $kit holds no Qt (lib/cmake/Qt5 missing)" >&2; exit 1; }
echo "windows: Qt kit $kit_dir"

if [ ! -f "$win_build/build.ninja" ]; then
  cmake -S "$here" -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchains/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$kit_dir"
fi
cmake --build "$win_build"
cmake --build "$win_build" --target installer
installer="$(ls "$win_build"/PrintCourier-*-setup.exe)"
echo "windows: installer $installer ($(stat -c %s "$installer") bytes)"

[ "$mode" = build ] && exit 0
exec bash "$here/tests/windows/winerun.sh" "$installer" "$linux_build" "$win_build/winerun"
