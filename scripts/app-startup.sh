#!/usr/bin/env bash
# Start-up to the first painted window and peak memory of the setup program's
# window against a bare Qt Widgets window, in the same run, alternating.
# Usage: scripts/app-startup.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a configured build folder (default build/release, built here)
#   RUNS       starts of each window (default 15)
# Runs offscreen, and under Xvfb too when xvfb-run is there. Prints medians
# and the ratios app / bare (the goal is at most 1.5 for both).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-15}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release >/dev/null
  build=build/release
fi
cmake --build "$build" --target bench_app_startup >/dev/null
bin="$build/bench/bench_app_startup"

median() { sort -n | awk '{a[NR]=$1} END {m=int((NR+1)/2); if (NR%2) print a[m]; else print (a[m]+a[m+1])/2}'; }

measure() { # platform-runner...
  local tapp tbare mapp mbare
  tapp=$(mktemp); tbare=$(mktemp); mapp=$(mktemp); mbare=$(mktemp)
  for _ in $(seq "$runs"); do
    for mode in bare app; do
      line=$(KV_LAUNCH_NS=$(date +%s%N) "$@" "$bin" "$mode" 2>/dev/null)
      t=$(sed -n 's/.*first_paint_ms=\([0-9.]*\).*/\1/p' <<<"$line")
      m=$(sed -n 's/.*peak_rss_kb=\([0-9]*\).*/\1/p' <<<"$line")
      if [ "$mode" = app ]; then echo "$t" >>"$tapp"; echo "$m" >>"$mapp"; else echo "$t" >>"$tbare"; echo "$m" >>"$mbare"; fi
    done
  done
  local ta tb ma mb
  ta=$(median <"$tapp"); tb=$(median <"$tbare"); ma=$(median <"$mapp"); mb=$(median <"$mbare")
  rm -f "$tapp" "$tbare" "$mapp" "$mbare"
  awk -v ta="$ta" -v tb="$tb" -v ma="$ma" -v mb="$mb" 'BEGIN {
    printf "  first window  bare %7.1f ms   app %7.1f ms   ratio %.2f\n", tb, ta, ta / tb
    printf "  peak memory   bare %7.0f kB   app %7.0f kB   ratio %.2f\n", mb, ma, ma / mb }'
}

echo "offscreen, $runs starts each (medians):"
QT_QPA_PLATFORM=offscreen measure env
if command -v xvfb-run >/dev/null 2>&1; then
  echo "Xvfb, $runs starts each (medians):"
  # One X server for all starts, so that its own start-up is not counted.
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f median measure); bin='$bin' runs='$runs' QT_QPA_PLATFORM=xcb measure env"
fi
