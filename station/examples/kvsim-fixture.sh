#!/bin/sh
# The line's fixture played by kvsim's console ($KVSIM_CONSOLE, default
# /tmp/kvconsole, a FIFO kvsim reads): `current` and `voltage` move the
# bench meter's leads; the input calibration's words (open, resistor OHM,
# short, voltage MV) connect its references, and the verification's
# (resistor OHM, voltage MV with any value) source its points; `open` at
# the end leaves the input as the fixture found it.
console=${KVSIM_CONSOLE:-/tmp/kvconsole}
case "$#:$1" in
1:current | 1:voltage) echo "meter $1" ;;
*) echo "sensor $*" ;;
esac >"$console"
