#!/usr/bin/env bash
# Sets up and builds PrintCourier (see setup.sh), runs every test suite through ctest, then the
# sanitizer and fuzz runs (see sanitize.sh). Exits non-zero when anything fails.
#
# Arguments go to ctest and select suites of the plain build only; the sanitizer and fuzz runs
# follow only a full run. COURIER_SKIP_SANITIZERS=1 leaves them out.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${COURIER_BUILD_DIR:-$here/build}"

"$here/scripts/setup.sh"

failed=()
(cd "$build" && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@") || failed+=("test suites")

if [[ $# -eq 0 && "${COURIER_SKIP_SANITIZERS:-0}" != 1 ]]; then
    # Each step runs even when one before it failed, so that one run shows every finding.
    for step in asan tsan fuzz; do
        "$here/scripts/sanitize.sh" "$step" || failed+=("sanitizer step $step")
    done
fi

if [[ ${#failed[@]} -gt 0 ]]; then
    printf 'FAILED: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "all test runs passed"
