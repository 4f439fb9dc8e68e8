# Shared by the site benchmarks (sourced): the private link's addresses and
# the wait for devsim.

# address_site PC_NS PC_IF DEV_NS DEV_IF COUNT BATCH: the PC end as
# 198.51.100.1 and COUNT devices from 198.51.100.10 on, each end routing
# everything over its interface; nonzero when the devices cannot be addressed.
address_site() {
  local pc_ns=$1 pc_if=$2 dev_ns=$3 dev_if=$4 count=$5 batch=$6 i
  ip -n "$pc_ns" addr add 198.51.100.1/24 brd + dev "$pc_if"
  ip -n "$pc_ns" link set "$pc_if" up
  ip -n "$pc_ns" route add default dev "$pc_if"
  {
    for ((i = 0; i < count; i++)); do echo "addr add 198.51.100.$((10 + i))/24 dev $dev_if"; done
    echo "link set $dev_if up"
    echo "route add default dev $dev_if"
  } >"$batch"
  ip -n "$dev_ns" -batch "$batch"
}

# wait_ready LOG: until devsim's LOG says it is ready, 20 s at most; nonzero if it never does.
wait_ready() {
  local i
  for ((i = 0; i < 400; i++)); do
    grep -q ready "$1" && return 0
    sleep 0.05
  done
  return 1
}
