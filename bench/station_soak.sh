#!/usr/bin/env bash
# The station soak over many seeds, each run on its own (see
# tests/e2e/station_soak_test.cpp for the promises it checks):
#   bench/station_soak.sh [RUNS] [FIRST_SEED]
# runs seeds FIRST_SEED .. FIRST_SEED+RUNS-1 (default 50 runs from a random
# seed) and prints each run's time and promises broken, then the seeds that
# failed and, for each promise, how often and in which seeds it broke.
# BUILD= names the build folder (default build/); FERNWICK_SOAK_KEEP=DIR
# keeps the folder of each failed run in DIR/seed-S.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
runs=${1:-50}
first=${2:-$((RANDOM * 32768 + RANDOM))}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

start=$(date +%s)
for ((i = 0; i < runs; i++)); do
  seed=$((first + i))
  FERNWICK_SEED=$seed FERNWICK_SOAK_RUNS=1 timeout 900 "$build/tests/e2e_station_soak_test" >"$work/$seed.out" 2>&1 ||
    true
  grep -q "soak: seed $seed took" "$work/$seed.out" || echo "soak: seed $seed broke no end: the run did not finish" \
    >>"$work/$seed.out"
  grep -E "^soak: seed $seed (took|broke)" "$work/$seed.out" | sed "s/^soak: //" | cut -c1-400
done
end=$(date +%s)

cat "$work"/*.out | grep -E '^soak: seed [0-9]+ broke ' >"$work/broken" || true
failed=$(sed -E 's/^soak: seed ([0-9]+) .*/\1/' "$work/broken" | sort -un | tr '\n' ' ')
echo
echo "$runs runs from seed $first in $((end - start)) s, $(($((end - start)) / runs)) s a run;" \
  "$(echo "$failed" | wc -w) failed: ${failed:-none}"
sed -E 's/^soak: seed ([0-9]+) broke ([^:]+):.*/\2\t\1/' "$work/broken" | sort -u |
  awk -F'\t' '{n[$1]++; s[$1] = s[$1] " " $2} END {for (k in n) printf "  %-15s broken in %d run(s):%s\n", k, n[k], s[k]}'
