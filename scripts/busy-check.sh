#!/usr/bin/env bash
# Runs a command while two CPU-bound loops compete with it for the processors, the way other
# programs' work does on a shared machine, then stops the loops, whatever way the command ends.
# Exits with the command's exit code.
#
#   scripts/busy-check.sh ctest --test-dir build -j2 --output-on-failure
#
# Environment: COURIER_BUSY_LOOPS (default 2), how many loops run beside the command.
set -uo pipefail

if [[ $# -eq 0 ]]; then
    echo "usage: $0 command [argument...]" >&2
    exit 2
fi

loops=()
stop_loops() {
    for pid in "${loops[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${loops[@]}"; do
        wait "$pid" 2>/dev/null
    done
    loops=()
}
trap stop_loops EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for ((i = 0; i < ${COURIER_BUSY_LOOPS:-2}; ++i)); do
    (while :; do :; done) &
    loops+=($!)
done

"$@"
status=$?
stop_loops
exit "$status"
