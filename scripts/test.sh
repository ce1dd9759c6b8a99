#!/usr/bin/env bash
# Sets up and builds PrintCourier (see setup.sh), then runs every test suite through ctest.
# Exits non-zero when anything fails.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${COURIER_BUILD_DIR:-$here/build}"

"$here/scripts/setup.sh"

cd "$build"
ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@"
