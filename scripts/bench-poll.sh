#!/usr/bin/env bash
# The poll cycle's figures against kvsim, one run each: the window offscreen
# (the poll cycle's own cost), the window shown and drawn under Xvfb, and
# kvctl watch. Prints each run's share of the line's limit, CPU per poll
# (both threads), the receive thread's hand-overs per poll and peak memory.
# Usage: scripts/bench-poll.sh [BUILD_DIR]   (default build/release, built here)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release >/dev/null
  build=build/release
fi
cmake --build "$build" --target bench_app_poll bench_kvctl_watch kvsim >/dev/null

figures() { grep -E 'ratio|^CPU|hand-overs|handovers_per_poll' | grep -vE '^Benchmark|^-' || true; }
echo "== window, offscreen"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_app_poll" 2>/dev/null | figures
if command -v xvfb-run >/dev/null; then
  echo "== window, drawn under Xvfb"
  xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$build/bench/bench_app_poll" 2>/dev/null | figures
else
  echo "== window under Xvfb: skipped (apt-get install xvfb)"
fi
echo "== kvctl watch"
"$build/bench/bench_kvctl_watch" 2>/dev/null | figures
