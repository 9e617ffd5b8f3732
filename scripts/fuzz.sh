#!/usr/bin/env bash
# Runs every fuzz target (any fuzz_* program of the fuzz preset) under
# libFuzzer with Address and UndefinedBehavior sanitizers, one after the
# other, and prints executions and coverage per target.
#
# Usage: scripts/fuzz.sh [-t SECONDS] [-n EXECUTIONS] [-j JOBS] [--system-jpeg] [TARGET...]
#   -t SECONDS     time per target (default 60; with -n, the most it may take)
#   -n EXECUTIONS  stop a target after this many executions (e.g. 10000000)
#   -j JOBS        libFuzzer jobs per target (default 1)
#   --system-jpeg  fuzz the JPEG loader against the system's libjpeg (its
#                  decoder then shows no coverage) instead of building an
#                  instrumented one
#   TARGET         only these (fuzz_receivers, fuzz_jpeg, ...)
#
# Seeds: fuzz/corpus/<name>/ for fuzz_<name> (read only); what a run finds is
# kept in build/fuzz/corpus/<name>/ and grows from run to run. Options of a
# target (one libFuzzer flag a line, e.g. -max_len=16384): fuzz/fuzz_<name>.options.
# Crashing inputs land in build/fuzz/findings/; add each, once fixed, to the
# target's seed folder, which the replay tests run.
#
# The JPEG target links an instrumented libjpeg built here once from the
# distribution's source package (apt-get source, needs deb-src lines), so
# that libFuzzer sees the decoder's branches and the sanitizers check it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=60
runs=
jobs=1
system_jpeg=0
only=()
while [ $# -gt 0 ]; do
  case $1 in
    -t) seconds=$2; shift 2 ;;
    -n) runs=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    --system-jpeg) system_jpeg=1; shift ;;
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
    *) only+=("$1"); shift ;;
  esac
done

build=$root/build/fuzz
jpeg=$root/build/jpeg-fuzz

# --- The instrumented JPEG decoder ------------------------------------------
jpeg_args=()
if [ "$system_jpeg" = 0 ]; then
  # The stamp names the build's recipe; a library built by another recipe is rebuilt.
  flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined,fuzzer-no-link"
  recipe="$( { echo "$flags"; cat "$root/scripts/fuzz-libjpeg.cmake"; } | sha1sum | cut -c1-12)"
  if [ ! -f "$jpeg/build/libjpeg.a" ] || [ ! -f "$jpeg/install/include/jpeglib.h" ] ||
     [ "$(cat "$jpeg/build/kv-recipe" 2>/dev/null)" != "$recipe" ]; then
    echo "fuzz.sh: building an instrumented libjpeg from the distribution's source" >&2
    rm -rf "$jpeg/build" "$jpeg/install"
    mkdir -p "$jpeg/src"
    if ( cd "$jpeg/src" && { ls -d libjpeg-turbo-*/ >/dev/null 2>&1 || apt-get source -qq libjpeg-turbo >/dev/null; } ) &&
       src=$(ls -d "$jpeg"/src/libjpeg-turbo-*/ | head -1) &&
       CC=clang CFLAGS="$flags" cmake -S "$src" -B "$jpeg/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
         -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DCMAKE_INSTALL_PREFIX="$jpeg/install" \
         -DCMAKE_PROJECT_INCLUDE="$root/scripts/fuzz-libjpeg.cmake" >/dev/null &&
       cmake --build "$jpeg/build" -j2 --target install >/dev/null; then
      echo "$recipe" >"$jpeg/build/kv-recipe"
    else
      echo "fuzz.sh: no instrumented libjpeg (no source package?); use --system-jpeg" >&2
      exit 1
    fi
  fi
  lib=$jpeg/build/libjpeg.a # the install rules leave the static library out
  jpeg_args=(-DJPEG_LIBRARY="$lib" -DJPEG_LIBRARY_RELEASE="$lib" -DJPEG_LIBRARY_DEBUG="$lib"
             -DJPEG_INCLUDE_DIR="$jpeg/install/include")
else
  # Back to the system's library if an earlier run chose the instrumented one.
  jpeg_args=(-UJPEG_LIBRARY -UJPEG_LIBRARY_RELEASE -UJPEG_LIBRARY_DEBUG -UJPEG_INCLUDE_DIR)
fi

# --- The targets -------------------------------------------------------------
cmake --preset fuzz "${jpeg_args[@]}" >/dev/null
mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' |
                       grep -vE '_(replay|autogen|autogen_timestamp_deps)$' | sort -u)
if [ ${#only[@]} -gt 0 ]; then targets=("${only[@]}"); fi
[ ${#targets[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz targets" >&2; exit 1; }
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

mkdir -p "$build/logs" "$build/findings"
printf '%-18s %12s %10s %8s %8s %8s %9s\n' target executions exec/s edges features corpus findings
status=0
for t in "${targets[@]}"; do
  bin=$(find "$build" -name "$t" -type f -perm -u+x | head -1)
  [ -n "$bin" ] || { echo "fuzz.sh: $t was not built" >&2; status=1; continue; }
  name=${t#fuzz_}
  work=$build/corpus/$name
  mkdir -p "$work"
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds=("$root/fuzz/corpus/$name")
  opts=()
  [ -f "$root/fuzz/$t.options" ] && mapfile -t opts < <(grep -v '^\s*\(#\|$\)' "$root/fuzz/$t.options")
  [ -n "$runs" ] && opts+=(-runs="$runs")
  log=$build/logs/$t.log
  before=$(find "$build/findings" -name "$t-*" | wc -l)
  set +e
  if [ "$jobs" -gt 1 ]; then
    (cd "$build/logs" && "$bin" "${opts[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$t-" -jobs="$jobs" -workers="$jobs" "$work" "${seeds[@]}" >"$log" 2>&1)
    cat "$build/logs"/fuzz-*.log >>"$log" 2>/dev/null; rm -f "$build/logs"/fuzz-*.log
  else
    "$bin" "${opts[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$t-" "$work" "${seeds[@]}" >"$log" 2>&1
  fi
  rc=$?
  set -e
  after=$(find "$build/findings" -name "$t-*" | wc -l)
  # Executions add up over jobs; coverage is that of the last status line.
  execs=$(awk '/stat::number_of_executed_units/ {s += $2} END {print s + 0}' "$log")
  rate=$(awk '/stat::average_exec_per_sec/ {s += $2} END {print s + 0}' "$log")
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  feats=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  files=$(find "$work" -type f | wc -l)
  printf '%-18s %12s %10s %8s %8s %8s %9s\n' "$t" "$execs" "$rate" "${edges:-?}" "${feats:-?}" "$files" $((after - before))
  if [ "$rc" -ne 0 ] || [ "$after" -gt "$before" ]; then
    echo "  $t: libFuzzer ended with $rc; see $log" >&2
    status=1
  fi
done
exit $status
