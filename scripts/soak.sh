#!/usr/bin/env bash
# Soak and fault run: the setup program's window against kvsim for a number
# of polls while each of kvsim's line faults is switched on in turn (drops,
# corrupt CRCs, noise, error answers, late answers, silence, a hang-up and the
# simulator's return under the same link), with "write the settings" and
# "restart" pressed during each fault. Samples RSS, descriptors, threads and
# CPU every 10 s into a CSV, prints the verdict and plots the CSV.
# Not part of CI: 100 000 polls take about 70 minutes.
#
# Usage: scripts/soak.sh [--x] [POLLS] [OUTDIR]
#   --x     draw the window under Xvfb (xvfb-run) instead of offscreen
#   POLLS   polls to run (default 100000)
#   OUTDIR  where soak.csv, faults.csv, verdict.txt and soak.png go
#           (default build/soak-<date>)
# Fault and quiet phases: KV_SOAK_FAULT_S (default 20) and KV_SOAK_NORMAL_S
# (default 40) seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
xvfb=0
if [ "${1:-}" = "--x" ]; then xvfb=1; shift; fi
polls=${1:-100000}
out=${2:-build/soak-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
out=$(cd "$out" && pwd)

[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release -j2 --target kvsoak kvsim >/dev/null

args=(--out "$out" --polls "$polls" --fault-s "${KV_SOAK_FAULT_S:-20}" --normal-s "${KV_SOAK_NORMAL_S:-40}" --sample-s 10)
if [ "$xvfb" = 1 ]; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" build/release/bench/kvsoak "${args[@]}"
else
  QT_QPA_PLATFORM=offscreen build/release/bench/kvsoak "${args[@]}"
fi
# The distribution's Python, which has python3-matplotlib (not a private one first in PATH).
py=/usr/bin/python3
if "$py" -c 'import matplotlib' 2>/dev/null; then
  "$py" scripts/soak_plot.py "$out/soak.csv" "$out/faults.csv" "$out/soak.png"
  echo "soak: plot in $out/soak.png"
else
  echo "soak: no plot (apt-get install python3-matplotlib)" >&2
fi
echo "soak: figures in $out"
