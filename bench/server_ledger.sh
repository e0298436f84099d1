#!/usr/bin/env bash
# The ledger on a PostgreSQL server against the SQLite file, on a server of
# the bench's own (as nobody when run as root):
#   bench/server_ledger.sh trips [N]          round trips to the server per board,
#                                             N boards with serial numbers
#   bench/server_ledger.sh arrival [N]        time from a board's arrival to its
#                                             zero byte, server against file
#   bench/server_ledger.sh line [S] [F] [B]   boards per hour of S stations of F
#                                             fixtures, B boards each, sharing a
#                                             server's ledger against a file's
# BUILD= names the build folder (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
bin=$(pg_config --bindir 2>/dev/null || true)
[ -x "$bin/initdb" ] || bin=/usr/lib/postgresql/15/bin
work=$(mktemp -d /tmp/fernwick-bench-XXXXXX)
chmod 755 "$work"
pids=()
as_server() { if [ "$(id -u)" -eq 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi; }
stop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  pkill -f -- "--link $work/" 2>/dev/null || true
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
finish() {
  stop
  as_server "$bin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap finish EXIT

mkdir -p "$work/pg" "$work/fix"
[ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$work/pg"
port=$((20000 + RANDOM % 20000))
as_server "$bin/initdb" -D "$work/pg/data" -U fernwick --auth=trust -E UTF8 --locale=C -N >/dev/null
as_server "$bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w start \
  -o "-k $work/pg -p $port -c listen_addresses=127.0.0.1 -c fsync=off -c log_statement=all" >/dev/null
server() { echo "host=127.0.0.1 port=$port user=fernwick dbname=$1"; }
new_ledger() {
  psql -q "host=$work/pg port=$port user=fernwick dbname=postgres" -c "CREATE DATABASE $1"
  "$build/fernwick-cli" ledger init "$(server "$1")" >/dev/null
}

# 8 KiB of random bytes in sector 1: 128 blocks, a board of some 6 s at 19200 baud.
head -c 8192 /dev/urandom >"$work/image.bin"
srec_cat "$work/image.bin" -binary -offset 0x18000 -o "$work/image.hex" -intel
numbers=(--serial "1FFF0h:4" --serial-start 1000)

records() { local n=0; [ -f "$1" ] && n=$(grep -c "\"device\":\"$2\"" "$1" || true); echo "${n:-0}"; }
records_all() { local n=0; [ -f "$1" ] && n=$(cat "$1" | wc -l); echo "${n:-0}"; }

station() {  # station LEDGER REPORT FOLDER [OPTION]...
  local ledger=$1 report=$2 folder=$3
  shift 3
  "$build/fernwick-cli" --baud 19200 station "$work/image.hex" --port "$folder/*" --report "$report" \
    --ledger "$ledger" "${numbers[@]}" --spool "$report.spool" "$@" >"$report.out" 2>&1 &
  pids+=($!)
}

# Boards one after another on fixture `k` of `folder`, each put in once the last one's record is written.
boards() {  # boards REPORT FOLDER K B [TRACE]
  local report=$1 folder=$2 k=$3 b=$4 trace=${5:-}
  for ((i = 0; i < b; i++)); do
    "$build/mirel-sim" --line-rate 19200 --erase-ms 300 --program-ms 2 --link "$folder/$k" \
      ${trace:+--trace "$trace.$i"} >/dev/null &
    local sim=$!
    until [ "$(records "$report" "$folder/$k")" -gt "$i" ]; do sleep 0.05; done
    kill $sim; wait $sim 2>/dev/null || true
  done
}

case "${1:-}" in
trips)
  n=${2:-10}
  new_ledger trips
  mkdir -p "$work/fix/t"
  station "$(server trips)" "$work/trips.jsonl" "$work/fix/t"
  sleep 1
  before=$(grep -c 'execute <unnamed>: SELECT .*fernwick_\(take\|record\|list_seen\|settle\)' "$work/pg/log" || true)
  boards "$work/trips.jsonl" "$work/fix/t" 0 "$n"
  after=$(grep -c 'execute <unnamed>: SELECT .*fernwick_\(take\|record\|list_seen\|settle\)' "$work/pg/log" || true)
  take=$(grep -c 'execute <unnamed>: SELECT .*fernwick_take' "$work/pg/log" || true)
  record=$(grep -c 'execute <unnamed>: SELECT .*fernwick_record' "$work/pg/log" || true)
  stop
  awk -v n="$n" -v d=$((after - before)) -v t="$take" -v r="$record" \
    'BEGIN {printf "round trips to the server per board over %d boards: %.2f (take %d, record %d in all)\n", n, d / n, t, r}'
  ;;
arrival)
  n=${2:-10}
  new_ledger arrival
  for kind in file server; do
    ledger=$work/arrival.ledger
    [ $kind = server ] && ledger=$(server arrival)
    mkdir -p "$work/fix/$kind"
    station "$ledger" "$work/arrival.$kind.jsonl" "$work/fix/$kind"
    sleep 1
    boards "$work/arrival.$kind.jsonl" "$work/fix/$kind" 0 "$n" "$work/trace.$kind"
    stop
    for ((i = 0; i < n; i++)); do
      # The trace's clock starts with the board: the first byte from the host is the zero byte.
      echo "$kind $(awk '$2 == "host" {print $1; exit}' "$work/trace.$kind.$i")"
    done
  done | sort -k1,1 -k2,2n | awk '{v[$1, ++c[$1]] = $2}
    END {
      for (k in c) m[k] = v[k, int((c[k] + 1) / 2)]
      printf "arrival to zero byte, median of %d boards: SQLite file %d ms, server %d ms, difference %d ms\n",
        c["file"], m["file"], m["server"], m["server"] - m["file"]
    }'
  ;;
line)
  s=${2:-4} f=${3:-8} b=${4:-3}
  new_ledger line
  for kind in file server; do
    ledger=$work/line.ledger
    [ $kind = server ] && ledger=$(server line)
    start=$(date +%s.%N)
    for ((st = 0; st < s; st++)); do
      mkdir -p "$work/fix/$kind$st"
      station "$ledger" "$work/line.$kind.$st.jsonl" "$work/fix/$kind$st" --host-name "bench $st"
    done
    for ((st = 0; st < s; st++)); do
      for ((k = 0; k < f; k++)); do
        boards "$work/line.$kind.$st.jsonl" "$work/fix/$kind$st" "$k" "$b" &
        pids+=($!)
      done
    done
    until [ "$(cat "$work"/line.$kind.*.jsonl 2>/dev/null | wc -l)" -ge $((s * f * b)) ]; do sleep 0.2; done
    end=$(date +%s.%N)
    echo "$kind $start $end"
    stop
  done | awk -v all=$((s * f * b)) -v s="$s" -v f="$f" '{h[$1] = all * 3600 / ($3 - $2)}
    END {printf "%d stations x %d fixtures: SQLite file %.0f boards per hour, server %.0f boards per hour, %.3f of the file\n",
         s, f, h["file"], h["server"], h["server"] / h["file"]}'
  ;;
*)
  sed -n '2,12p' "$0" >&2
  exit 2
  ;;
esac
