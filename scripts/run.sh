#!/usr/bin/env bash
# Sets up, builds and starts the setup program.
#
#   scripts/run.sh [program options]          against the built-in simulated transmitter
#   scripts/run.sh --device [program options] alone, to pick a real transmitter's port
#
# Program options are passed on (for example /QORMIX for the developer level).
# With the simulator, lines written to the console file it prints (for example
# `echo "silent on" > FILE`) switch its faults while it runs; `help` lists them.
set -euo pipefail
cd "$(dirname "$0")/.."

with_sim=1
if [ "${1:-}" = "--device" ]; then
  with_sim=0
  shift
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
run: there is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so
the window cannot be shown. Run it on a desktop session, or inside a virtual
one:   xvfb-run -a -s '-screen 0 1280x1024x24' bash scripts/run.sh
MSG
  exit 1
fi

"$(pwd)/scripts/setup.sh"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target kvsetup kvsim

app=build/release/app/kvsetup
sim=build/release/sim/kvsim

if [ "$with_sim" -eq 0 ]; then
  exec "$app" "$@"
fi

# The same launcher that the package installs as kvsetup-sim, on this build.
KVSETUP="$app" KVSIM="$sim" exec bash app/desktop/kvsetup-sim.sh "$@"
