#!/usr/bin/env bash
# Sets up and builds PrintCourier (see setup.sh), then starts a working system on this Linux machine:
# the cloud service stand-in at the program's service address, and PrintCourier over a winsim
# machine of its own (build/run/winsim-root, kept between runs, so added printers stay). The program
# shows on the desktop's display when there is one, otherwise on a virtual display (Xvfb), with a
# screenshot of the window. COURIER_RUN_SECONDS=N ends everything after N seconds.
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

run="$build/run"
mkdir -p "$run/cloudsim-jobs"
export WINSIM_ROOT="$run/winsim-root"
export PATH="$bin:$PATH"

service_port=$(sed -n 's|^#define COURIER_CLOUD_SERVICE_BASE ".*:\([0-9]*\)"$|\1|p' "$build/generated/courierconstants.h")
if curl -s -o /dev/null "http://127.0.0.1:$service_port/admin/stats"; then
  echo "run: a cloud service stand-in already answers on 127.0.0.1:$service_port; using it"
else
  "$bin/cloudsim" --port "$service_port" --jobs-dir "$run/cloudsim-jobs" --default-device online \
    --pending-polls 2 2>"$run/cloudsim.log" >"$run/cloudsim.out" &
  pids+=("$!")
  for _ in $(seq 50); do grep -q listening "$run/cloudsim.out" 2>/dev/null && break; sleep 0.1; done
  echo "run: cloud service stand-in on 127.0.0.1:$service_port; received jobs in $run/cloudsim-jobs"
fi

cd "$bin"
./PrintCourier &
program=$!
pids+=("$program")
echo "run: PrintCourier started (pid $program) from $bin; logs in $bin/logs, job history in $bin/details"
echo "run: print to a printer you added:  WINSIM_ROOT=$WINSIM_ROOT $bin/winsim print NAME FILE --document TITLE"

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
