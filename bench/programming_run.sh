#!/usr/bin/env bash
# Programs all four sectors (2048 blocks) with fernwick-cli against mirel-sim
# and prints the time per block.
#   bench/programming_run.sh           host overhead: the simulator takes no time
#   bench/programming_run.sh --timed   19200 baud on the line, 300 ms per sector
#                                      erase, 2 ms per block, compared with the
#                                      time the line and the chip need
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
work=$(mktemp -d)
trap 'kill $sim 2>/dev/null || true; rm -rf "$work"' EXIT

head -c 131072 /dev/urandom >"$work/image.bin"
# Sector 0 at 00'0000h, sectors 1-3 at 01'8000h-02'FFFFh.
srec_cat "$work/image.bin" -binary -crop 0 0x8000 \
         "$work/image.bin" -binary -crop 0x8000 0x20000 -offset 0x10000 \
         -o "$work/image.hex" -intel

sim_options=()
erase_ms=0 program_ms=0 baud=19200
if [ "${1:-}" = "--timed" ]; then
  erase_ms=300 program_ms=2
  sim_options=(--line-rate $baud --erase-ms $erase_ms --program-ms $program_ms)
fi
"$build/mirel-sim" "${sim_options[@]}" >"$work/sim.out" &
sim=$!
until [ -s "$work/sim.out" ]; do sleep 0.05; done
device=$(head -n 1 "$work/sim.out")

"$build/fernwick-cli" --device "$device" --baud $baud program "$work/image.hex" \
  --bsl-target -99 >"$work/run.out" 2>/dev/null
summary=$(grep -E '^(Blocks|Time)' "$work/run.out")
echo "$summary"
seconds=$(sed -n 's/^Time: \([0-9.]*\) s.*/\1/p' <<<"$summary")

awk -v s="$seconds" -v timed="${1:-}" -v baud=$baud -v e=$erase_ms -v p=$program_ms 'BEGIN {
  blocks = 2048; erases = 4
  printf "per block: %.3f ms\n", 1000 * s / blocks
  if (timed == "--timed") {
    byte = 10 / baud
    model = blocks * (68 * byte + byte + p / 1000 + byte) + erases * (2 * byte + byte + e / 1000 + byte)
    printf "modelled line and chip time: %.2f s, measured %.2f s, overhead %.1f %%\n", model, s, 100 * (s - model) / model
  }
}'
