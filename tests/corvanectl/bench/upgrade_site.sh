#!/usr/bin/env bash
# upgrade_site.sh - corvanectl upgrade of a generated site, one device at a time and at once.
#
#   sudo tests/corvanectl/bench/upgrade_site.sh [SIZES]
#
# devsim plays 64 devices behind a link with DELAY_MS one-way delay; corvanectl
# upgrades the first N of them (SIZES, default "1 4 16 64") with a 1 MiB image,
# once with --parallel 1 and once with its default, and the script prints a
# table: devices, seconds one at a time, seconds at once, and the time at once
# against one device's. Then, for the largest size, where the time goes: the CPU
# seconds of corvanectl, devsim and the delay emulation in the run at once (and
# in one of 32, the most corvanectl serves at once), and the same runs on a link
# without delay. Prints figures only; asserts nothing.
#
# The link: namespaces cvupc<pid> (198.51.100.1/24, default route on the link)
# and cvudev<pid> (the devices, 198.51.100.10 and up). With sch_netem in the
# kernel they are joined by a veth pair with `netem delay` on both ends;
# without it by a tap in each namespace and delay_link.py carrying the frames
# between them, each way DELAY_MS later. Both namespaces are deleted on exit,
# with devsim and the link program.
#
# Environment:
#   BUILD     the build folder (default build/bench when it has both programs,
#             else build/native; build/bench: -DCMAKE_BUILD_TYPE=Release
#             -DCORVANE_SANITIZE=OFF, targets corvanectl and devsim_program)
#   CTL, SIM  the corvanectl and devsim programs (default: those of BUILD)
#   DELAY_MS  one-way delay of the link (default 1)
#   IMAGE_KIB the image's size (default 1024)
#   SERIAL    0: skip the runs one device at a time (default 1)
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=site_net.sh
source "$HERE/site_net.sh"
REPO=$(cd "$HERE/../../.." && pwd)
SIZES=${1:-1 4 16 64}
if [[ -z ${BUILD:-} ]]; then
  BUILD=$REPO/build/native
  [[ -x $REPO/build/bench/tools/corvanectl/corvanectl && -x $REPO/build/bench/tools/devsim/devsim ]] &&
    BUILD=$REPO/build/bench
fi
CTL=${CTL:-$BUILD/tools/corvanectl/corvanectl}
SIM=${SIM:-$BUILD/tools/devsim/devsim}
DELAY_MS=${DELAY_MS:-1}
IMAGE_KIB=${IMAGE_KIB:-1024}
SERIAL=${SERIAL:-1}
COUNT=64
PC_NS=cvupc$$
DEV_NS=cvudev$$
PC_IF=up$$
DEV_IF=ud$$
WORK=$(mktemp -d /tmp/upgrade-site.XXXXXX)
SIM_PID=
LINK_PID=
LINK_KIND=

die() {
  echo "upgrade_site: $*" >&2
  exit 2
}
[[ $(id -u) == 0 ]] || die "needs root (network namespaces)"
[[ -x $CTL && -x $SIM ]] || die "build corvanectl and devsim_program in $BUILD first"
for n in $SIZES; do ((n >= 1 && n <= COUNT)) || die "a size is 1 to $COUNT"; done

stop_pid() {
  [[ -n $1 ]] || return 0
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  stop_pid "$SIM_PID"
  stop_pid "$LINK_PID"
  ip netns del "$PC_NS" 2>/dev/null
  ip netns del "$DEV_NS" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Quick restarts, so that the figures are the transfers' and not the devices' reboots.
cat >"$WORK/site.json" <<JSON
{"site": {"count": $COUNT, "firstMac": "02-00-5E-30-00-01", "firstAddress": "198.51.100.10",
          "timings": {"restartMs": 500, "bootLoaderDelayMs": 200}}}
JSON
{
  printf 'VERSION=9.9\0'
  head -c $((IMAGE_KIB * 1024 - 12)) /dev/urandom
} >"$WORK/fw.bin"

# CPU seconds (user + system) a process has used so far.
cpu_of() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || {
    echo 0
    return
  }
  stat=${stat##*) }
  awk -v hz="$(getconf CLK_TCK)" '{printf "%.2f", ($12 + $13) / hz}' <<<"$stat"
}

# make_link DELAY_MS: the namespaces and the link between them, afresh.
make_link() {
  stop_pid "$LINK_PID"
  LINK_PID=
  ip netns del "$PC_NS" 2>/dev/null
  ip netns del "$DEV_NS" 2>/dev/null
  { ip netns add "$PC_NS" && ip netns add "$DEV_NS"; } || die "cannot make namespaces"
  ip -n "$PC_NS" link set lo up
  ip -n "$DEV_NS" link set lo up
  ip link add "$PC_IF" netns "$PC_NS" type veth peer name "$DEV_IF" netns "$DEV_NS" || die "cannot make the veth pair"
  if [[ $1 == 0 ]]; then
    LINK_KIND="veth, no delay"
  else
    if ip netns exec "$PC_NS" tc qdisc add dev "$PC_IF" root netem delay "${1}ms" 2>/dev/null &&
      ip netns exec "$DEV_NS" tc qdisc add dev "$DEV_IF" root netem delay "${1}ms"; then
      LINK_KIND="veth, netem delay ${1} ms each way"
    else
      ip -n "$PC_NS" link del "$PC_IF"
      { ip -n "$PC_NS" tuntap add dev "$PC_IF" mode tap && ip -n "$DEV_NS" tuntap add dev "$DEV_IF" mode tap; } ||
        die "cannot make the taps"
      python3 "$HERE/delay_link.py" --a "$PC_NS:$PC_IF" --b "$DEV_NS:$DEV_IF" --delay-ms "$1" \
        --ready "$WORK/link.txt" </dev/null >"$WORK/link.log" 2>&1 &
      LINK_PID=$!
      for ((i = 0; i < 100; i++)); do
        grep -q ready "$WORK/link.txt" 2>/dev/null && break
        sleep 0.05
      done
      grep -q ready "$WORK/link.txt" 2>/dev/null || die "delay_link.py did not start: $(cat "$WORK/link.log")"
      LINK_KIND="taps and delay_link.py (no netem here), ${1} ms each way"
    fi
  fi
  address_site "$PC_NS" "$PC_IF" "$DEV_NS" "$DEV_IF" "$COUNT" "$WORK/dev.batch" || die "cannot address the devices"
}

start_sim() {
  stop_sim_if_any
  : >"$WORK/devsim.log"
  # ip netns exec runs devsim in its own place: $! is devsim's pid.
  ip netns exec "$DEV_NS" "$SIM" --quiet --config "$WORK/site.json" >"$WORK/devsim.log" 2>&1 &
  SIM_PID=$!
  wait_ready "$WORK/devsim.log" && return 0
  die "devsim did not start: $(cat "$WORK/devsim.log")"
}
stop_sim_if_any() {
  stop_pid "$SIM_PID"
  SIM_PID=
}

targets() {
  local list=() i
  for ((i = 0; i < $1; i++)); do list+=("198.51.100.$((10 + i))"); done
  echo "${list[*]}"
}

# upgrade N [OPTIONS...]: one run; sets SECONDS_TAKEN, CTL_CPU, SIM_CPU, LINK_CPU, RESULT.
upgrade() {
  local n=$1 sim0 link0
  shift
  sim0=$(cpu_of "$SIM_PID")
  link0=$([[ -n $LINK_PID ]] && cpu_of "$LINK_PID" || echo 0)
  # shellcheck disable=SC2046
  ip netns exec "$PC_NS" /usr/bin/time -f '%e %U %S' -o "$WORK/time.txt" \
    "$CTL" upgrade $(targets "$n") --yes --image "$WORK/fw.bin" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null
  RESULT=$(tail -1 "$WORK/out.txt")
  read -r SECONDS_TAKEN user sys < <(tail -1 "$WORK/time.txt")
  CTL_CPU=$(echo "$user + $sys" | bc -l)
  SIM_CPU=$(echo "$(cpu_of "$SIM_PID") - $sim0" | bc -l)
  LINK_CPU=$([[ -n $LINK_PID ]] && echo "$(cpu_of "$LINK_PID") - $link0" | bc -l || echo 0)
  [[ $RESULT == "$n of $n device(s) upgraded" ]] || echo "  (run of $n $*: $RESULT)" >&2
}

make_link "$DELAY_MS"
start_sim
search_s=$( { ip netns exec "$PC_NS" /usr/bin/time -f '%e' "$CTL" search >/dev/null </dev/null; } 2>&1 | tail -1)
echo "corvanectl upgrade, ${IMAGE_KIB} KiB image, $COUNT simulated devices; link: $LINK_KIND"
echo "programs: $CTL, $SIM"
echo "each run holds a search (${search_s} s alone here), the devices' 200 ms to their boot loaders and their 500 ms restart"
printf '%8s %10s %11s %12s\n' devices "serial s" "parallel s" "parallel/1"
one=
for n in $SIZES; do
  serial=nan
  if [[ $SERIAL != 0 ]]; then
    upgrade "$n" --parallel 1
    serial=$SECONDS_TAKEN
  fi
  upgrade "$n"
  parallel=$SECONDS_TAKEN
  [[ -z $one ]] && one=$parallel
  printf '%8d %10.2f %11.2f %12.2f\n' "$n" "$serial" "$parallel" "$(echo "$parallel / $one" | bc -l)"
done

largest=$(tr ' ' '\n' <<<"$SIZES" | sort -n | tail -1)
echo
echo "where the time goes (corvanectl's default parallelism; CPU seconds of each program in the run):"
printf '%-34s %8s %11s %8s %10s\n' run "wall s" corvanectl devsim "link emu"
report() { printf '%-34s %8.2f %11.2f %8.2f %10.2f\n' "$1" "$SECONDS_TAKEN" "$CTL_CPU" "$SIM_CPU" "$LINK_CPU"; }
# corvanectl serves at most 32 devices at once (its default): more come in waves.
upgrade "$largest"
report "delayed link, $largest device(s)"
if ((largest > 32)); then
  upgrade 32
  report "delayed link, 32 devices (one wave)"
fi
make_link 0
start_sim
upgrade "$largest"
report "no delay, $largest device(s)"
upgrade 1
report "no delay, 1 device"
