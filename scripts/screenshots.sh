#!/usr/bin/env bash
# Takes pictures of the program's pages under a virtual display (Xvfb): the printer list with
# cards (one showing a success, one a failure), each of those cards, the add form, the job history
# with rows, a message dialog, and the printer list again on a screen scaled to 150 %. They land in
# build/screenshots/ (not committed).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${COURIER_BUILD_DIR:-$here/build}"

"$here/scripts/setup.sh"
cmake --build "$build" --target courier_screenshots

export PATH="$build/bin:$PATH"
out="$build/screenshots"
xvfb-run -a -s "-screen 0 1280x800x24" "$build/tools/screenshots/courier_screenshots" "$out"
QT_SCALE_FACTOR=1.5 xvfb-run -a -s "-screen 0 1920x1200x24" \
  "$build/tools/screenshots/courier_screenshots" "$out" --scaled list-150
echo "screenshots: $out"
