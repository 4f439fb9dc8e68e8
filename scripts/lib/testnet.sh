# A private virtual network for the programs and the simulated devices: two
# network namespaces, "pc" and "dev", joined by a veth pair, with addresses in
# 198.51.100.0/24. Broadcasts and multicasts stay inside; nothing reaches the
# machine's real interfaces. Names carry the process id; testnet_down removes them.
testnet_pc_address=198.51.100.1

testnet_up() {
  testnet_pc="cvn-pc-$$"
  testnet_dev="cvn-dev-$$"
  local vp="cvnp$$" vd="cvnd$$"
  ip netns add "$testnet_pc"
  ip netns add "$testnet_dev"
  ip link add "$vp" netns "$testnet_pc" type veth peer name "$vd" netns "$testnet_dev"
  ip -n "$testnet_pc" link set lo up
  ip -n "$testnet_dev" link set lo up
  ip -n "$testnet_pc" addr add "$testnet_pc_address/24" dev "$vp"
  ip -n "$testnet_pc" link set "$vp" up
  for address in "$@"; do ip -n "$testnet_dev" addr add "$address/24" dev "$vd"; done
  ip -n "$testnet_dev" link set "$vd" up
  # The program finds its own address by resolving the host name: inside "pc"
  # that is 198.51.100.1 (`ip netns exec` reads /etc/netns/NAME/hosts).
  mkdir -p "/etc/netns/$testnet_pc"
  printf '127.0.0.1 localhost\n%s %s\n' "$testnet_pc_address" "$(hostname)" >"/etc/netns/$testnet_pc/hosts"
  # Limited broadcasts and multicasts leave through the veth, not nowhere.
  ip -n "$testnet_pc" route add default dev "$vp"
  ip -n "$testnet_dev" route add default dev "$vd"
}

testnet_down() {
  [ -n "${testnet_pc:-}" ] && rm -rf "/etc/netns/$testnet_pc"
  [ -n "${testnet_pc:-}" ] && ip netns del "$testnet_pc" 2>/dev/null
  [ -n "${testnet_dev:-}" ] && ip netns del "$testnet_dev" 2>/dev/null
  return 0
}

# Sends one search request by broadcast from the pc side and prints how many
# devices answered within a second.
testnet_count_answers() {
  ip netns exec "$testnet_pc" python3 - <<'PY'
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.bind(("0.0.0.0", 0))
s.sendto(b"MORKELAN\x00", ("255.255.255.255", 25122))
s.settimeout(0.2)
answers, deadline = set(), time.time() + 1.0
while time.time() < deadline:
    try:
        data, sender = s.recvfrom(512)
    except socket.timeout:
        continue
    if data[:8] == b"MORKELAN":
        answers.add(sender[0])
print(len(answers))
PY
}
