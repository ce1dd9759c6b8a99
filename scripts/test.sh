#!/usr/bin/env bash
# Sets up and builds PrintCourier (see setup.sh), runs every test suite through ctest, then the
# sanitizer and fuzz runs (see sanitize.sh). Exits non-zero when anything fails.
#
# Arguments go to ctest and select suites of the plain build only; the sanitizer and fuzz runs
# follow only a full run. COURIER_SKIP_SANITIZERS=1 leaves them out.
#
# A full run also builds the Windows program and runs it under Wine (see windows.sh); without a Qt
# kit for Windows that step is skipped and the summary says so. COURIER_SKIP_WINDOWS=1 leaves it out.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${COURIER_BUILD_DIR:-$here/build}"

"$here/scripts/setup.sh"

failed=()
skipped=()
(cd "$build" && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@") || failed+=("test suites")

if [[ $# -eq 0 && "${COURIER_SKIP_WINDOWS:-0}" != 1 ]]; then
    # The Windows program: built with MinGW-w64 and the Qt kit, installed and run under Wine.
    rc=0
    "$here/scripts/windows.sh" || rc=$?
    if [[ $rc -eq 77 ]]; then
        skipped+=("Windows run (no Qt kit for Windows)")
    elif [[ $rc -ne 0 ]]; then
        failed+=("Windows run")
    fi
fi

if [[ $# -eq 0 && "${COURIER_SKIP_SANITIZERS:-0}" != 1 ]]; then
    # Each step runs even when one before it failed, so that one run shows every finding.
    for step in asan tsan fuzz; do
        "$here/scripts/sanitize.sh" "$step" || failed+=("sanitizer step $step")
    done
fi

if [[ ${#skipped[@]} -gt 0 ]]; then
    printf 'SKIPPED: %s\n' "${skipped[@]}"
fi
if [[ ${#failed[@]} -gt 0 ]]; then
    printf 'FAILED: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "all test runs passed"
