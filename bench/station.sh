#!/usr/bin/env bash
# The station against simulated boards that arrive with their adapters:
#   bench/station.sh arrival [N]     time from a board's arrival (its link
#                                    made) to the station's zero byte, N boards
#   bench/station.sh idle [S]        processor time of a station with no board
#                                    for S seconds, and with one fixed adapter
#                                    whose board was taken out
#   bench/station.sh rate [F] [B]    boards per hour of F fixtures at 19200
#                                    baud, B boards each back to back, against
#                                    F times one fixture's rate
#   bench/station.sh cycle [F] [B]   the same measured per fixture at a steady
#                                    state: from one board's arrival to the
#                                    next one's, the first board of each left out
#   bench/station.sh window [F] [S]  processor time of fernwick-station over S
#                                    seconds while F fixtures program, against
#                                    fernwick-cli station on the same job
# BUILD= names the build folder (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
work=$(mktemp -d)
pids=()
stop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # A fixture's loop killed while its board runs leaves the board's simulator.
  pkill -f -- "--link $work/fix/" 2>/dev/null || true
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap 'stop; rm -rf "$work"' EXIT
mkdir -p "$work/fix"

# 8 KiB of random bytes in sector 1: 128 blocks, a board of some 6 s at 19200 baud.
head -c 8192 /dev/urandom >"$work/image.bin"
srec_cat "$work/image.bin" -binary -offset 0x18000 -o "$work/image.hex" -intel

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

station() {  # station REPORT [OPTION]...: started in the background, its pid in `station_pid`
  local report=$1
  shift
  "$build/fernwick-cli" --baud 19200 station "$work/image.hex" --port "$work/fix/*" --report "$report" "$@" \
    >"$work/station.out" 2>&1 &
  station_pid=$!
  pids+=($station_pid)
  sleep 0.5
}

records() { local n=0; [ -f "$1" ] && n=$(grep -c "\"device\":\"$2\"" "$1" || true); echo "${n:-0}"; }

records_all() { local n=0; [ -f "$1" ] && n=$(wc -l <"$1"); echo "${n:-0}"; }

passed() { local n=0; [ -f "$1" ] && n=$(grep -c '"result":"ok"' "$1" || true); echo "${n:-0}"; }

case "${1:-}" in
arrival)
  n=${2:-20}
  station "$work/report.jsonl"
  for ((i = 0; i < n; i++)); do
    "$build/mirel-sim" --link "$work/fix/a" --trace "$work/trace.$i" >/dev/null &
    sim=$!
    until [ "$(records "$work/report.jsonl" "$work/fix/a")" -gt "$i" ]; do sleep 0.02; done
    kill $sim; wait $sim || true
    # The trace's clock starts with the board: the first byte from the host is the zero byte.
    awk '$2 == "host" {print $1; exit}' "$work/trace.$i"
  done | sort -n | awk '{a[NR] = $1} END {printf "arrival to zero byte over %d boards: median %d ms, max %d ms\n", NR, a[int((NR + 1) / 2)], a[NR]}'
  ;;
idle)
  s=${2:-60}
  station "$work/report.jsonl"
  before=$(cpu_ticks $station_pid)
  sleep "$s"
  echo "no board: $(( ($(cpu_ticks $station_pid) - before) * 10 )) ms of processor time in $s s"
  stop
  "$build/mirel-sim" --link "$work/fix/a" --fixed-adapter >/dev/null &
  sim=$!
  pids+=($sim)
  station "$work/report2.jsonl"
  until [ "$(records "$work/report2.jsonl" "$work/fix/a")" -gt 0 ]; do sleep 0.1; done
  kill -USR2 $sim  # the board taken out; the adapter stays
  sleep 5
  before=$(cpu_ticks $station_pid)
  sleep "$s"
  echo "a fixed adapter without its board: $(( ($(cpu_ticks $station_pid) - before) * 10 )) ms of processor time in $s s"
  ;;
rate)
  f=${2:-16} b=${3:-4}
  for fixtures in 1 "$f"; do
    station "$work/rate.$fixtures.jsonl"
    start=$(date +%s.%N)
    for ((k = 0; k < fixtures; k++)); do
      (
        for ((i = 0; i < b; i++)); do
          "$build/mirel-sim" --line-rate 19200 --erase-ms 300 --program-ms 2 --link "$work/fix/$k" >/dev/null &
          sim=$!
          until [ "$(records "$work/rate.$fixtures.jsonl" "$work/fix/$k")" -gt "$i" ]; do sleep 0.1; done
          kill $sim; wait $sim || true
        done
      ) &
      pids+=($!)
    done
    until [ "$(passed "$work/rate.$fixtures.jsonl")" -ge $((fixtures * b)) ]; do
      sleep 0.1
    done
    end=$(date +%s.%N)
    echo "$fixtures $b $start $end"
    stop
  done | awk '{per_hour[$1] = $1 * $2 * 3600 / ($4 - $3); n = $1}
    END {printf "one fixture: %.0f boards per hour; %d fixtures: %.0f boards per hour, %.3f of %d times one\n",
         per_hour[1], n, per_hour[n], per_hour[n] / (n * per_hour[1]), n}'
  ;;
cycle)
  f=${2:-16} b=${3:-5}
  for fixtures in 1 "$f"; do
    station "$work/cycle.$fixtures.jsonl"
    for ((k = 0; k < fixtures; k++)); do
      (
        for ((i = 0; i < b; i++)); do
          # The next board is put in as soon as the last one's record is written.
          echo "$fixtures $k $i $(date +%s.%N)" >>"$work/arrivals.$fixtures"
          "$build/mirel-sim" --line-rate 19200 --erase-ms 300 --program-ms 2 --link "$work/fix/$k" >/dev/null &
          sim=$!
          until [ "$(records "$work/cycle.$fixtures.jsonl" "$work/fix/$k")" -gt "$i" ]; do sleep 0.05; done
          kill $sim; wait $sim || true
        done
      ) &
      pids+=($!)
    done
    until [ "$(records_all "$work/cycle.$fixtures.jsonl")" -ge $((fixtures * b)) ]; do sleep 0.2; done
    stop
    cat "$work/arrivals.$fixtures"
  done | sort -k1,1n -k2,2n -k3,3n | awk -v b="$b" '
    { t[$1 " " $2 " " $3] = $4; n[$1] = $1 }
    END {
      for (f in n) {
        sum = 0; cycles = 0
        for (k = 0; k < f; k++)
          for (i = 2; i < b; i++) { sum += t[f " " k " " i] - t[f " " k " " (i - 1)]; cycles++ }
        cycle[f] = sum / cycles
      }
      for (f in n) if (f > 1) many = f
      one = 3600 / cycle[1]; all = many * 3600 / cycle[many]
      printf "one fixture: a board every %.2f s, %.0f boards per hour; %d fixtures: a board every %.2f s each, %.0f boards per hour, %.3f of %d times one\n",
        cycle[1], one, many, cycle[many], all, all / (many * one), many
    }'
  ;;
window)
  f=${2:-16} s=${3:-10}
  "$build/fernwick-cli" --baud 19200 job make "$work/line.job" "$work/image.hex" --product bench --port "$work/fix/*" \
    --report "$work/window.jsonl" >/dev/null
  for program in station-window cli; do
    rm -f "$work"/fix/*
    for ((k = 0; k < f; k++)); do
      # Slow boards: every fixture programs through the whole measure.
      "$build/mirel-sim" --line-rate 19200 --erase-ms 300 --program-ms 250 --link "$work/fix/$k" >/dev/null &
      pids+=($!)
    done
    if [ $program = cli ]; then
      "$build/fernwick-cli" station --job "$work/line.job" --operator bench --lot bench >"$work/cli.out" 2>&1 &
    else
      QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb} "$build/fernwick-station" "$work/line.job" --operator bench \
        --lot bench >"$work/window.out" 2>&1 &
    fi
    pid=$!
    pids+=($pid)
    sleep 4
    before=$(cpu_ticks $pid)
    sleep "$s"
    ms=$(( ($(cpu_ticks $pid) - before) * 10 ))
    echo "$program $ms"
    stop
  done | awk -v s="$s" -v f="$f" '{ms[$1] = $2}
    END {printf "%d fixtures programming, %d s: fernwick-station %d ms (%.2f %% of a core), fernwick-cli station %d ms (%.2f %%); the window itself %.2f %% of a core\n",
         f, s, ms["station-window"], ms["station-window"] / (10 * s), ms["cli"], ms["cli"] / (10 * s), (ms["station-window"] - ms["cli"]) / (10 * s)}'
  ;;
*)
  sed -n '2,17p' "$0" >&2
  exit 2
  ;;
esac
