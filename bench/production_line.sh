#!/usr/bin/env bash
# Programs all four sectors (2048 blocks) of N simulated boards at once and
# measures the wall time and the processor time (user + system) of the tool.
#   bench/production_line.sh                 the goals of bench/README.md
#   bench/production_line.sh N [--timed]     one run on N boards
# --timed: 19200 baud on the line, 300 ms per sector erase, 2 ms per block.
# --kib K: an image of K KiB (from sector 0 on) instead of all 128.
# --processes: one fernwick-cli per board instead of one for all of them.
# BUILD= names the build folder (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
baud=19200 kib=128
work=$(mktemp -d)
sims=() clis=()

stop() {
  local pid
  for pid in "${clis[@]}" "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${clis[@]}" "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  clis=() sims=()
}
trap 'stop; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# make_image K: K KiB of random bytes, sector 0 at 00'0000h, sectors 1-3 at
# 01'8000h-02'FFFFh: the flash dump of a programmed board begins with the image.
make_image() {
  kib=$1 blocks=$(($1 * 16))
  head -c $((kib * 1024)) /dev/urandom >"$work/image.bin"
  srec_cat "$work/image.bin" -binary -crop 0 0x8000 \
           "$work/image.bin" -binary -crop 0x8000 0x20000 -offset 0x10000 \
           -o "$work/image.hex" -intel
}

# start_sims N TIMED: N boards, their devices in `devices`.
start_sims() {
  local n=$1 timed=$2 i
  local options=()
  [ "$timed" = yes ] && options=(--line-rate $baud --erase-ms 300 --program-ms 2)
  # A file of the last run would name a device that has gone.
  rm -f "$work"/sim.* "$work"/flash.* "$work"/run.*
  devices=()
  for ((i = 0; i < n; i++)); do
    "$build/mirel-sim" "${options[@]}" --dump "$work/flash.$i" >"$work/sim.$i" &
    sims+=($!)
  done
  for ((i = 0; i < n; i++)); do
    until [ -s "$work/sim.$i" ]; do
      kill -0 "${sims[$i]}" 2>/dev/null || { echo "mirel-sim did not start" >&2; exit 1; }
      sleep 0.02
    done
    devices+=("$(head -n 1 "$work/sim.$i")")
  done
}

# The processor time the simulators have used so far, in seconds.
sim_seconds() {
  local pid ticks=0
  for pid in "${sims[@]}"; do
    # utime and stime: fields 14 and 15, counted after the command name.
    ticks=$((ticks + $(sed 's/.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }')))
  done
  awk -v t=$ticks -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}

# Starts fernwick-cli on every board, in the background so that a signal
# to this script stops it too; its process ids in `clis`.
start_boards() {
  local d i=0 args=()
  if [ "$processes" = yes ]; then
    for d in "${devices[@]}"; do
      "$build/fernwick-cli" --device "$d" --baud $baud program "$work/image.hex" --bsl-target -99 \
        >"$work/run.$((i++))" 2>/dev/null &
      clis+=($!)
    done
    return
  fi
  for d in "${devices[@]}"; do args+=(--device "$d"); done
  "$build/fernwick-cli" --baud $baud program "$work/image.hex" --bsl-target -99 "${args[@]}" \
    >"$work/run.0" 2>"$work/run.err" &
  clis+=($!)
}

# The user and system seconds of this shell's children that have ended, from
# the second line of `times` ("0m1.250s 0m0.310s").
children_seconds() {
  sed -n 2p "$1" | awk '{ for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); s += 60 * t[1] + t[2] } }
                        END { printf "%.3f", s }'
}

# measure N TIMED: sets wall, cpu, sim_cpu (seconds) and load; fails unless
# every board ends with the image in its flash.
measure() {
  local n=$1 timed=$2 i pid status=0 started ended
  start_sims "$n" "$timed"
  load=$(cut -d ' ' -f 1 /proc/loadavg)
  # Nothing but fernwick-cli may end between the two `times`: a command
  # substitution would add its own process.
  times >"$work/times.before"
  started=$EPOCHREALTIME
  start_boards
  for pid in "${clis[@]}"; do wait "$pid" || status=1; done
  ended=$EPOCHREALTIME
  times >"$work/times.after"
  clis=()
  wall=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.3f", b - a }')
  if [ $status -ne 0 ]; then
    echo "fernwick-cli failed on $n boards:" >&2
    cat "$work"/run.* >&2
    exit 1
  fi
  cpu=$(awk -v a="$(children_seconds "$work/times.before")" -v b="$(children_seconds "$work/times.after")" \
    'BEGIN { printf "%.2f", b - a }')
  sim_cpu=$(sim_seconds)
  stop
  for ((i = 0; i < n; i++)); do
    cmp -s -n $((kib * 1024)) "$work/image.bin" "$work/flash.$i" ||
      { echo "board $i: flash differs from the image" >&2; exit 1; }
  done
  load="$load-$(cut -d ' ' -f 1 /proc/loadavg)"
}

# report N TIMED: the figures of the last run.
report() {
  awk -v n="$1" -v timed="$2" -v w="$wall" -v c="$cpu" -v b=$blocks -v sim="$sim_cpu" -v load="$load" 'BEGIN {
    printf "%2d board(s), %s: wall %.2f s, fernwick-cli CPU %.2f s, %.2f %% of a core per board (load %s)\n",
      n, timed == "yes" ? "19200 baud timed" : "untimed", w, c, 100 * c / w / n, load
    printf "    per block: wall %.3f ms, CPU %.4f ms per board, wall %.4f ms for the line; simulators: CPU %.2f s\n",
      1000 * w / b, 1000 * c / b / n, 1000 * w / b / n, sim
  }'
}

# median_of N TIMED RUNS: the median wall and CPU times of RUNS runs.
median_of() {
  local walls=() cpus=() r
  for ((r = 0; r < $3; r++)); do
    measure "$1" "$2"
    report "$1" "$2"
    walls+=("$wall") cpus+=("$cpu")
  done
  wall=$(printf '%s\n' "${walls[@]}" | sort -g | sed -n "$(($3 / 2 + 1))p")
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -g | sed -n "$(($3 / 2 + 1))p")
}

processes=no
args=()
image_kib=128
while [ $# -gt 0 ]; do
  case $1 in
    --processes) processes=yes ;;
    --kib) image_kib=$2; shift ;;
    *) args+=("$1") ;;
  esac
  shift
done

if [ ${#args[@]} -gt 0 ]; then
  timed=no
  [ "${args[1]:-}" = --timed ] && timed=yes
  make_image "$image_kib"
  measure "${args[0]}" $timed
  report "${args[0]}" $timed
  exit 0
fi

make_image 128
median_of 1 no 3; u1=$wall uc1=$cpu
median_of 32 no 3; u32=$wall uc32=$cpu
make_image 32
measure 1 yes; report 1 yes; w1=$wall c1=$cpu
measure 64 yes; report 64 yes; w64=$wall c64=$cpu
awk -v w1="$w1" -v c1="$c1" -v w64="$w64" -v c64="$c64" -v uc1="$uc1" -v u32="$u32" 'BEGIN {
  printf "goal 1, CPU per block, one board untimed, median of 3 (at most 60 us): %.1f us, ratio %.2f\n",
    1e6 * uc1 / 2048, 1e6 * uc1 / 2048 / 60
  printf "goal 2, 32 boards untimed, wall, median of 3 (at most 3 s): %.2f s, ratio %.2f\n", u32, u32 / 3
  printf "goal 3, 64 boards at 19200 baud, 32 KiB each, against one, wall (at most 1.1): %.3f\n", w64 / w1
  printf "    CPU per board: %.2f %% of a core alone, %.2f %% with 64 boards\n", 100 * c1 / w1, 100 * c64 / w64 / 64
}'
