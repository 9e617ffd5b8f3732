#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [--asan]
#   --asan   also build and run the whole suite under Address/UB sanitizers
#            (CI does this always).
set -euo pipefail
cd "$(dirname "$0")/.."

# poppler-utils: the tests read the certificates back with pdftotext.
"$(pwd)/scripts/setup.sh" poppler-utils

jobs=$(nproc 2>/dev/null || echo 2)
run_preset() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs" "$@"
}

run_preset dev
if [ "${1:-}" = "--asan" ] || [ "${CI:-}" = "true" ]; then
  # The calibrations on the line (label calibration) take minutes of real
  # time each; under the sanitizers the same runs on the manual clock, in
  # process, stand for them.
  run_preset asan -LE calibration
fi
