#!/usr/bin/env bash
# Installs what PrintCourier needs on a Debian 12 machine (as root), then configures and builds it.
# Quick when nothing changed: apt-get runs only for missing packages and ninja rebuilds only what changed.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${COURIER_BUILD_DIR:-$here/build}"

packages=(
  cmake ninja-build g++ pkg-config
  qtbase5-dev libqt5sql5-sqlite qttranslations5-l10n
  libsqlite3-dev libcpp-httplib-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  xvfb xauth x11-utils imagemagick xdotool fonts-noto-cjk
  curl socat
  clang libclang-rt-14-dev clang-format-14
)

source "$here/scripts/packages.sh"
ensure_packages "${packages[@]}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${COURIER_BUILD_TYPE:-RelWithDebInfo}" \
    ${COURIER_CMAKE_ARGS:-}
fi
cmake --build "$build"
