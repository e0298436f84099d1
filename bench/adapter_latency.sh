#!/usr/bin/env bash
# The estimate of "fernwick-cli plan --adapter-latency MS" against a run of
# all four sectors (2048 blocks) at 19200 baud on a simulated board with the
# chip's typical times behind an adapter whose latency timer runs MS (16 by
# default), and the answer delay the run measured.
#   bench/adapter_latency.sh [MS]
# BUILD= names the build folder (default build/); SIM_BUILD= another one for
# mirel-sim. A plan that knows no --adapter-latency estimates without it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
sim_build=${SIM_BUILD:-$build}
latency=${1:-16}
baud=19200
work=$(mktemp -d)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

head -c 131072 /dev/urandom >"$work/image.bin"
srec_cat "$work/image.bin" -binary -crop 0 0x8000 \
         "$work/image.bin" -binary -crop 0x8000 0x20000 -offset 0x10000 \
         -o "$work/image.hex" -intel

plan() { "$build/fernwick-cli" --baud $baud plan "$work/image.hex" --bsl-target -99 "$@"; }
estimate=$(plan --adapter-latency "$latency" 2>/dev/null || plan)
# "estimated time: 1:48 (...)": minutes and seconds, or hours first.
seconds=$(sed -n 's/^ *estimated time: \([0-9:]*\) .*/\1/p' <<<"$estimate" |
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = 60 * s + $i; print s }')

"$sim_build/mirel-sim" --line-rate follow --erase-ms 300 --program-ms 2 --adapter-latency "$latency" \
  >"$work/sim.out" &
sim=$!
until [ -s "$work/sim.out" ]; do sleep 0.05; done
device=$(head -n 1 "$work/sim.out")
"$build/fernwick-cli" --device "$device" --baud $baud program "$work/image.hex" --bsl-target -99 \
  --report "$work/report.jsonl" >"$work/run.out" 2>/dev/null
measured=$(sed -n 's/^Time: \([0-9.]*\) s.*/\1/p' "$work/run.out")
delay=$(grep -o '"answer_delay_ms":[0-9.null]*' "$work/report.jsonl" | cut -d: -f2 || echo "(not measured)")
hint=no
grep -q latency_timer "$work/run.out" && hint=yes

awk -v e="$seconds" -v m="$measured" -v l="$latency" -v d="$delay" -v h=$hint 'BEGIN {
  printf "adapter latency %d ms: plan %d s, run %.2f s, run against plan %.3f (goal: within 3 %%)\n", l, e, m, m / e
  printf "answer delay measured %s ms, latency hint printed: %s\n", d, h
}'
