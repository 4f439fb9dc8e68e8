#!/usr/bin/env bash
# tftp_bench_compare.sh - bootserve beside tftpd-hpa on a private two-namespace link.
#
#   sudo tests/upgrade/bench/tftp_bench_compare.sh [CONDITIONS]
#
# CONDITIONS: any of "none delay1ms loss5" (default: all three).
# For each condition and file size (64 KiB, 1 MiB, 8 MiB) both servers serve the
# same random image to the same client (curl, 512-byte blocks, no options) with
# the same CPU pinning; every copy is compared with the original. Prints one
# result line per cell and a table with the ratio tftpd-hpa / bootserve (above 1:
# bootserve is faster). Prints figures only; it asserts nothing.
#
# The link: namespaces cvbpc<pid> (server, 198.51.100.1) and cvbdev<pid>
# (client, 198.51.100.20) joined by a veth pair, no other interface and no route
# off the link; both are deleted on exit. The kernel here has no netem, so delay
# and loss are emulated on the client side's egress (the ACKs) by an NFQUEUE
# rule and impair.py; drops are seeded, so both servers meet the same pattern.
#
# Needs root, ip, iptables, python3, curl, taskset, in.tftpd (Debian tftpd-hpa;
# install it with /usr/sbin/policy-rc.d saying `exit 101` so that no service
# starts on the host).
#
# Environment:
#   BOOTSERVE      bootserve binary (default: built here, Release, no sanitizers, in build/bench)
#   PIN_SERVER, PIN_CLIENT  taskset CPU lists (default 0 and 0: one core, per-block CPU cost)
#   RUNS           runs per cell (default 3); 8 MiB under impairment and 1 MiB under loss run once
#   LOSS_TIMEOUT   cap in seconds on one run under loss (default 120); a capped run prints as ">N"
#   IMPAIR_SEED    seed of the drop decisions (default 1)
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$HERE/../../.." && pwd)
CONDITIONS=${*:-none delay1ms loss5}
RUNS=${RUNS:-3}
LOSS_TIMEOUT=${LOSS_TIMEOUT:-120}
CLEAN_TIMEOUT=60
PIN_SERVER=${PIN_SERVER:-0}
PIN_CLIENT=${PIN_CLIENT:-0}
IMPAIR_SEED=${IMPAIR_SEED:-1}

PC_NS=cvbpc$$
DEV_NS=cvbdev$$
IF=veth0
SERVER_IP=198.51.100.1
DEV_IP=198.51.100.20
QUEUE=$((($$ % 60000) + 1000))

die() {
  echo "tftp_bench_compare: $*" >&2
  exit 2
}

[[ $(id -u) == 0 ]] || die "needs root (network namespaces)"
for tool in ip iptables python3 curl taskset in.tftpd cmp; do
  command -v "$tool" >/dev/null || die "missing $tool"
done

WORK=$(mktemp -d /tmp/tftp-bench-compare.XXXXXX)
chmod 755 "$WORK"
SERVER_PID=
IMPAIR_PID=

stop_pid() { # TERM a process group we started, KILL it after 2 s
  local pid=$1 i
  [[ -n $pid ]] || return 0
  kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 40; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

ns_exists() { ip netns list | awk '{print $1}' | grep -qx "$1"; }

cleanup() {
  stop_pid "$SERVER_PID"
  stop_pid "$IMPAIR_PID"
  local ns pid
  for ns in "$PC_NS" "$DEV_NS"; do
    ns_exists "$ns" || continue
    # whatever still runs inside was started here (a forked tftpd child): stop it by pid
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    ip netns del "$ns"
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

link_up() {
  ip netns add "$PC_NS"
  ip netns add "$DEV_NS"
  ip link add "$IF" netns "$PC_NS" type veth peer name "$IF" netns "$DEV_NS"
  ip -n "$PC_NS" link set lo up
  ip -n "$DEV_NS" link set lo up
  ip -n "$PC_NS" addr add "$SERVER_IP/24" dev "$IF"
  ip -n "$DEV_NS" addr add "$DEV_IP/24" dev "$IF"
  ip -n "$PC_NS" link set "$IF" up
  ip -n "$DEV_NS" link set "$IF" up
  local i
  for ((i = 0; i < 50; i++)); do
    ip netns exec "$DEV_NS" ping -c1 -W1 -q "$SERVER_IP" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  die "link check failed"
}

impair_off() {
  ip netns exec "$DEV_NS" iptables -F OUTPUT 2>/dev/null || true
  stop_pid "$IMPAIR_PID"
  IMPAIR_PID=
}

impair_on() { # $1 delay ms, $2 drop probability
  impair_off
  : >"$WORK/impair.log"
  ip netns exec "$DEV_NS" setsid python3 "$HERE/impair.py" --queue "$QUEUE" --delay-ms "$1" --loss "$2" \
    --seed "$IMPAIR_SEED" --lifetime 3600 --log "$WORK/impair.log" </dev/null >/dev/null 2>&1 &
  IMPAIR_PID=$!
  local i
  for ((i = 0; i < 50; i++)); do
    grep -q '^bound' "$WORK/impair.log" 2>/dev/null && break
    sleep 0.05
  done
  grep -q '^bound' "$WORK/impair.log" || die "impair.py did not start: $(cat "$WORK/impair.log")"
  ip netns exec "$DEV_NS" iptables -A OUTPUT -o "$IF" -j NFQUEUE --queue-num "$QUEUE" --queue-bypass
}

# Each impaired condition restarts impair.py, so the seeded drop pattern starts
# afresh for every server run as well (see run_cell).
set_condition() {
  case $1 in
    none) impair_off ;;
    delay1ms) impair_on 1 0 ;;
    loss5) impair_on 0 0.05 ;;
    *) die "unknown condition $1" ;;
  esac
}

build_bootserve() {
  if [[ -n ${BOOTSERVE:-} ]]; then
    [[ -x $BOOTSERVE ]] || die "BOOTSERVE=$BOOTSERVE is not executable"
    return
  fi
  BOOTSERVE=$REPO/build/bench/tools/bootserve/bootserve
  echo "building bootserve (Release, no sanitizers) in $REPO/build/bench ..." >&2
  cmake -G Ninja -S "$REPO" -B "$REPO/build/bench" -DCMAKE_BUILD_TYPE=Release -DCORVANE_SANITIZE=OFF >/dev/null &&
    cmake --build "$REPO/build/bench" --target bootserve >/dev/null || die "bootserve build failed"
}

start_server() { # $1 server name, $2 file
  local root=$WORK/root cmd
  case $1 in
    tftpd-hpa) cmd="exec in.tftpd -L -a $SERVER_IP:69 -u root -r blksize -s ${root@Q}" ;;
    bootserve) cmd="exec ${BOOTSERVE@Q} --tftp-only --file ${2@Q}" ;;
  esac
  ip netns exec "$PC_NS" setsid taskset -c "$PIN_SERVER" bash -c "$cmd" </dev/null >"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
  local i
  for ((i = 0; i < 50; i++)); do
    [[ -n $(ip netns exec "$PC_NS" ss -Hlun "sport = :69" 2>/dev/null) ]] && return 0
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  die "$1 did not listen on port 69: $(tail -5 "$WORK/server.log")"
}

# run_cell SERVER COND FILE RUNS TIMEOUT -> sets CELL="median_s pass/runs capped"
run_cell() {
  local server=$1 cond=$2 file=$3 runs=$4 limit=$5 name out r res rc s e capped=0 pass=0
  local -a times=()
  name=$(basename "$file")
  out=$WORK/out.bin
  start_server "$server" "$WORK/root/$name"
  for ((r = 1; r <= runs; r++)); do
    set_condition "$cond"
    rm -f "$out"
    # the clock runs inside the client's namespace, around the client only
    res=$(ip netns exec "$DEV_NS" bash -c '
      s=$EPOCHREALTIME; taskset -c "$1" timeout "$2" curl -sS --tftp-no-options -o "$3" "$4" >/dev/null 2>&1
      rc=$?; e=$EPOCHREALTIME; echo "$rc $s $e"' _ "$PIN_CLIENT" "$limit" "$out" "tftp://$SERVER_IP/$name")
    read -r rc s e <<<"$res"
    times+=("$(awk -v s="$s" -v e="$e" 'BEGIN{printf "%.4f", e - s}')")
    [[ $rc == 124 ]] && capped=1
    [[ $rc == 0 ]] && cmp -s "$out" "$file" && pass=$((pass + 1))
  done
  impair_off
  stop_pid "$SERVER_PID"
  SERVER_PID=
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -g |
    awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}')
  CELL="$median $pass/$runs $capped"
}

make_files() {
  mkdir -p "$WORK/root"
  chmod 755 "$WORK/root"
  local entry
  for entry in 64K:65536 1M:1048576 8M:8388608; do
    head -c "${entry#*:}" /dev/urandom >"$WORK/root/fw-${entry%%:*}.bin"
  done
  chmod 644 "$WORK/root"/*.bin
}

build_bootserve
link_up
make_files
RTT=$(ip netns exec "$DEV_NS" ping -c 20 -i 0.01 -q "$SERVER_IP" | awk -F/ '/^rtt/ {print $5}')
echo "# $(date -u '+%F %H:%M UTC'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg);" \
  "server on CPU $PIN_SERVER, client (curl) on CPU $PIN_CLIENT; clean-link ping RTT ${RTT} ms"

ping_rtt() { ip netns exec "$DEV_NS" ping -c 50 -i 0.01 -q "$SERVER_IP" | awk -F/ '/^rtt/ {print $5}'; }

ROWS=()
NOTES=()
for cond in $CONDITIONS; do
  if [[ $cond == delay1ms ]]; then
    # one block per round trip is the floor under delay: the round trip as the
    # emulation really delivers it on this machine, measured the same way
    set_condition delay1ms
    NOTES+=("delay1ms: ping RTT through the emulated delay $(ping_rtt) ms (the one-block-per-round-trip floor)")
    impair_off
  fi
  for size in 64K 1M 8M; do
    runs=$RUNS
    limit=$CLEAN_TIMEOUT
    [[ $cond != none && $size == 8M ]] && runs=1
    [[ $cond == loss5 && $size == 1M ]] && runs=1
    [[ $cond == loss5 ]] && limit=$LOSS_TIMEOUT
    file=$WORK/root/fw-$size.bin
    blocks=$(($(stat -c %s "$file") / 512 + 1))
    line="$cond $size"
    for server in bootserve tftpd-hpa; do
      run_cell "$server" "$cond" "$file" "$runs" "$limit"
      read -r median passes capped <<<"$CELL"
      echo "server=$server cond=$cond file=fw-$size.bin median_s=$median pass=$passes capped=$capped" >&2
      line+=" $median $passes $capped"
    done
    ROWS+=("$line $blocks")
  done
done

printf '\n| condition | size | bootserve s | pass | ms/block | tftpd-hpa s | pass | ms/block | tftpd-hpa / bootserve |\n'
printf '|---|---|---:|---|---:|---:|---|---:|---:|\n'
for row in "${ROWS[@]}"; do
  # shellcheck disable=SC2086
  set -- $row
  awk -v c="$1" -v z="$2" -v bs="$3" -v bp="$4" -v bc="$5" -v ts="$6" -v tp="$7" -v tc="$8" -v n="$9" 'BEGIN {
    bt = (bc ? ">" : "") sprintf("%.3f", bs); tt = (tc ? ">" : "") sprintf("%.3f", ts)
    ratio = (bs > 0) ? sprintf("%s%.2f", (tc ? ">" : ""), ts / bs) : "-"
    printf "| %s | %s | %s | %s | %.4f | %s | %s | %.4f | %s |\n", c, z, bt, bp, bs * 1000 / n, tt, tp, ts * 1000 / n, ratio
  }'
done
for note in "${NOTES[@]}"; do echo "$note"; done
echo "A capped cell (>N) was stopped after its time limit; its ratio is a lower bound."
