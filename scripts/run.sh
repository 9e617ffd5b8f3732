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

work=$(mktemp -d /tmp/kvsim.XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator's console: a FIFO the script holds open, so it never sees the
# end of its input and anyone can write commands into it.
mkfifo "$work/console"
exec 3<>"$work/console"
"$sim" --link "$work/port" <&3 >"$work/sim.log" 2>&1 &
sim_pid=$!

for _ in $(seq 1 100); do
  [ -e "$work/port" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "run: the simulator did not start:" >&2
    cat "$work/sim.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -e "$work/port" ]; then
  echo "run: the simulator gave no port within 5 s" >&2
  exit 1
fi

echo "run: simulated transmitter on $work/port (log: $work/sim.log)"
echo "run: its console: echo \"help\" > $work/console"
KV_EXTRA_PORTS="$work/port${KV_EXTRA_PORTS:+:$KV_EXTRA_PORTS}" "$app" --connect "$work/port" "$@"
