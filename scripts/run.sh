#!/usr/bin/env bash
# Sets up and builds PrintCourier (see setup.sh), then starts it: on the desktop's display when
# there is one, otherwise on a virtual display (Xvfb), with a screenshot of the window.
# COURIER_RUN_SECONDS=N ends the program after N seconds (for unattended checks).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${COURIER_BUILD_DIR:-$here/build}"
bin="$build/bin"

"$here/scripts/setup.sh"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

virtual=0
if [ -z "${DISPLAY:-}" ]; then
  virtual=1
  display=":$(( 90 + RANDOM % 100 ))"
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=("$!")
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  echo "run: no desktop display; PrintCourier runs on the virtual display $DISPLAY"
fi

cd "$bin"
./PrintCourier &
program=$!
pids+=("$program")
echo "run: PrintCourier started (pid $program) from $bin; logs in $bin/logs"

if [ "$virtual" -eq 1 ]; then
  shots="$build/screenshots"
  mkdir -p "$shots"
  for _ in $(seq 100); do
    xdotool search --name 'VARN_' >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 1
  import -window root "$shots/run.png"
  echo "run: screenshot of the window: $shots/run.png"
fi

if [ -n "${COURIER_RUN_SECONDS:-}" ]; then
  sleep "$COURIER_RUN_SECONDS"
  exit 0
fi
echo "run: the program runs until you end it from its tray menu (or press Ctrl+C here)"
wait "$program"
