#!/usr/bin/env bash
# search_site.sh - corvanectl search against a generated site of simulated devices.
#
#   sudo tests/corvanectl/bench/search_site.sh [COUNT] [RUNS]
#
# devsim plays COUNT devices (default 240) behind a veth pair; corvanectl search
# --json runs RUNS times (default 20) in a row from the PC side while BUSY
# processes (default 2) keep the cores busy. Prints one line per run (exit code,
# devices listed, seconds) and a summary. Prints figures only; asserts nothing.
#
# The link: namespaces cvspc<pid> (198.51.100.1/24, default route on the link)
# and cvsdev<pid> (the devices, 198.51.100.10 and up) joined by a veth pair, no
# other interface; both are deleted on exit, with devsim and the busy loops.
#
# Environment:
#   BUILD   the build folder with corvanectl and devsim (default build/native)
#   CTL, SIM  the corvanectl and devsim programs (default: those of BUILD)
#   BUSY    busy loops beside the runs (default 2; 0: an idle machine)
#   WAIT    corvanectl's --wait in ms (default: its own)
#   FRESH   1: a new devsim and link for every run, searched at once (as a new
#           user starts them); 0 (default): one devsim for all runs
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=site_net.sh
source "$HERE/site_net.sh"
REPO=$(cd "$HERE/../../.." && pwd)
COUNT=${1:-240}
RUNS=${2:-20}
BUILD=${BUILD:-$REPO/build/native}
BUSY=${BUSY:-2}
FRESH=${FRESH:-0}
CTL=${CTL:-$BUILD/tools/corvanectl/corvanectl}
SIM=${SIM:-$BUILD/tools/devsim/devsim}
PC_NS=cvspc$$
DEV_NS=cvsdev$$
WORK=$(mktemp -d /tmp/search-site.XXXXXX)
SIM_PID=
BUSY_PIDS=()

die() {
  echo "search_site: $*" >&2
  exit 2
}
[[ $(id -u) == 0 ]] || die "needs root (network namespaces)"
[[ -x $CTL && -x $SIM ]] || die "build corvanectl and devsim_program in $BUILD first"
((COUNT >= 1 && COUNT <= 240)) || die "COUNT is 1 to 240 (one /24 on the link)"

stop_sim() {
  if [[ -n $SIM_PID ]]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  SIM_PID=
}
cleanup() {
  stop_sim
  for p in "${BUSY_PIDS[@]}"; do kill "$p" 2>/dev/null; done
  ip netns del "$PC_NS" 2>/dev/null
  ip netns del "$DEV_NS" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

cat >"$WORK/site.json" <<JSON
{"site": {"count": $COUNT, "firstMac": "02-00-5E-20-00-01", "firstAddress": "198.51.100.10",
          "twoPortEvery": 3}}
JSON

make_link() {
  ip netns del "$PC_NS" 2>/dev/null
  ip netns del "$DEV_NS" 2>/dev/null
  ip netns add "$PC_NS" && ip netns add "$DEV_NS" || die "cannot make namespaces"
  ip link add sp$$ netns "$PC_NS" type veth peer name sd$$ netns "$DEV_NS" || die "cannot make the veth pair"
  address_site "$PC_NS" sp$$ "$DEV_NS" sd$$ "$COUNT" "$WORK/dev.batch" || die "cannot address the devices"
}

start_sim() {
  : >"$WORK/devsim.log"
  ip netns exec "$DEV_NS" timeout -k 2 3600 "$SIM" --quiet --config "$WORK/site.json" >"$WORK/devsim.log" 2>&1 &
  SIM_PID=$!
  wait_ready "$WORK/devsim.log" && return 0
  die "devsim did not start: $(cat "$WORK/devsim.log")"
}

for ((i = 0; i < BUSY; i++)); do
  (while :; do :; done) &
  BUSY_PIDS+=($!)
done

if [[ $FRESH != 1 ]]; then
  make_link
  start_sim
fi
echo "search of $COUNT simulated devices, $RUNS runs, $BUSY busy loop(s), fresh=$FRESH"
printf '%4s %5s %7s %8s\n' run exit listed seconds
complete=0
total_ms=0
worst=$COUNT
for ((run = 1; run <= RUNS; run++)); do
  if [[ $FRESH == 1 ]]; then
    stop_sim
    make_link
    start_sim
  fi
  start=$(date +%s%N)
  ip netns exec "$PC_NS" "$CTL" search --json ${WAIT:+--wait $WAIT} >"$WORK/out.json" 2>"$WORK/err.txt" </dev/null
  code=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  listed=$(python3 -c 'import json,sys; print(len({r["mac"] for r in json.load(open(sys.argv[1]))}))' \
    "$WORK/out.json" 2>/dev/null || echo 0)
  printf '%4d %5d %7d %8.3f\n' "$run" "$code" "$listed" "$(echo "$ms / 1000" | bc -l)"
  ((listed == COUNT)) && complete=$((complete + 1))
  ((listed < worst)) && worst=$listed
  total_ms=$((total_ms + ms))
done
echo "runs listing all $COUNT: $complete of $RUNS; fewest listed: $worst; mean time $((total_ms / RUNS)) ms"
