#!/bin/bash
# kvsetup-sim: the setup program against a simulated transmitter.
#
#   kvsetup-sim [program options]      for example kvsetup-sim /QORMIX
#
# Starts kvsim on a pseudo-terminal, then the window connected to it; closing
# the window stops the simulator. Lines written to the console file it prints
# (`echo "silent on" > FILE`, `help`) change the simulated device while it
# runs. The programs are taken from $KVSETUP and $KVSIM, else from this
# script's folder, else from PATH (scripts/run.sh points them at a build).
set -euo pipefail

case "${1:-}" in
  -h|--help)
    sed -n '2,10s/^# \{0,1\}//p' "$0"
    exit 0 ;;
esac

here=$(dirname "$(readlink -f "$0")")
find_program() {
  if [ -x "$here/$1" ]; then
    echo "$here/$1"
  else
    command -v "$1" || true
  fi
}
app=${KVSETUP:-$(find_program kvsetup)}
sim=${KVSIM:-$(find_program kvsim)}
if [ -z "$sim" ]; then
  echo "kvsetup-sim: the simulator kvsim is missing (on Debian: apt install kvsetup-tools)" >&2
  exit 1
fi
if [ -z "$app" ]; then
  echo "kvsetup-sim: the setup program kvsetup is missing" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kvsim.XXXXXX")
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

# The simulator's console: a FIFO held open here, so that it never sees the
# end of its input and anyone can write commands into it.
mkfifo "$work/console"
exec 3<>"$work/console"
"$sim" --link "$work/port" <&3 >"$work/sim.log" 2>&1 &
sim_pid=$!

for _ in $(seq 1 100); do
  [ -e "$work/port" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "kvsetup-sim: the simulator did not start:" >&2
    cat "$work/sim.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -e "$work/port" ]; then
  echo "kvsetup-sim: the simulator gave no port within 5 s" >&2
  exit 1
fi

echo "kvsetup-sim: simulated transmitter on $work/port (log: $work/sim.log)"
echo "kvsetup-sim: its console: echo \"help\" > $work/console"
KV_EXTRA_PORTS="$work/port${KV_EXTRA_PORTS:+:$KV_EXTRA_PORTS}" "$app" --connect "$work/port" "$@"
