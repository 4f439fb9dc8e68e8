#!/usr/bin/env bash
# `scripts/run marlet`: builds marlet.exe with the virtual serial port driver,
# the removal tool, the port data service vportd.exe and the terminal program
# portterm.exe, stages the driver in the Wine prefix, and starts vportd and
# marlet in the "pc" namespace of the private network that `scripts/run` uses,
# with devsim playing tools/devsim/examples/first-run.json in "dev": each
# server-mode serial port echoes what it receives (198.51.100.10 port 4001).
# Add then installs a real port, Setting/Connect give it an endpoint, and a
# terminal program that opens the port talks to the device through vportd.
#
# With $DISPLAY set the program opens there and the run lasts until it closes.
# Without one it runs on a private Xvfb display, writes a screenshot to the file
# it names, and ends (--keep: keeps it running until Ctrl-C). Ports added stay
# in the prefix until removed; the driver starts again with the next Wine start.
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/vport.sh"
source "$(dirname "$0")/testnet.sh"

keep=0
[ "${1:-}" = "--keep" ] && keep=1
if [ "$(id -u)" -ne 0 ]; then
  echo "run: the private network needs root (network namespaces); run it with sudo" >&2
  exit 1
fi

bash "$repo_root/scripts/setup"
configure_native
cmake --build "$native_dir" -j "$jobs" --target devsim_program
configure_win32
cmake --build "$win32_dir" -j "$jobs" --target marlet qnvport devcon vportd portterm
exe="$win32_dir/marlet/marlet.exe"
devsim="$native_dir/tools/devsim/devsim"
ensure_wineprefix

run_dir="$build_root/run-marlet"
stage_vport_driver "$run_dir"
cd "$run_dir"  # the program opens the installation file by its bare name

devsim_pid=""
xvfb_pid=""
cleanup() {
  timeout 10 wineserver -k 2>/dev/null || true
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  testnet_down
}
trap cleanup EXIT
trap 'exit 130' INT TERM

testnet_up 198.51.100.10 198.51.100.11 198.51.100.12
ip netns exec "$testnet_dev" "$devsim" --config "$repo_root/tools/devsim/examples/first-run.json" \
  >"$run_dir/devsim.log" 2>&1 &
devsim_pid=$!

if [ -z "${DISPLAY:-}" ]; then
  display_number=$((90 + RANDOM % 100))
  Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >"$run_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$display_number"
  headless_display=1
else
  headless_display=0
fi

# Wine opens the programs' sockets in its wineserver: one already running
# outside the namespace would put them on the real network.
timeout 15 wineserver -k 2>/dev/null || true
timeout 15 wineserver -w 2>/dev/null || true
in_pc=(ip netns exec "$testnet_pc" env DISPLAY="$DISPLAY" WINEPREFIX="$WINEPREFIX" WINEDEBUG="$WINEDEBUG"
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES")
echo "run: starting vportd.exe and marlet.exe in namespace $testnet_pc on display $DISPLAY" \
  "(driver staged in $WINEPREFIX; logs in $run_dir)"
"${in_pc[@]}" wine "$win32_dir/vportd.exe" >"$run_dir/vportd.log" 2>&1 &
"${in_pc[@]}" wine "$exe" >"$run_dir/marlet.log" 2>&1 &
wine_pid=$!
echo "run: a terminal program reaches a port's device from there, e.g. after Add, Setting" \
  "198.51.100.10 port 4001 and Connect:"
echo "     ip netns exec $testnet_pc env WINEPREFIX=$WINEPREFIX${WINESERVER:+ WINESERVER=$WINESERVER}" \
  "wine $win32_dir/tools/portterm/portterm.exe COM3 --send hello --read 5"

if [ "$headless_display" -eq 0 ]; then
  wait "$wine_pid" || true
  exit 0
fi

# Wait (bounded) for the main window, then take the screenshot.
title="^Marlet"
for _ in $(seq 1 120); do
  xdotool search --name "$title" >/dev/null 2>&1 && break
  sleep 0.5
done
if ! xdotool search --name "$title" >/dev/null 2>&1; then
  echo "run: the marlet window did not appear; see $run_dir/marlet.log" >&2
  exit 1
fi
sleep 1  # let it paint
shot="$run_dir/marlet-screenshot.png"
import -display "$DISPLAY" -window root "$shot"
echo "run: marlet.exe is running; screenshot written to $shot"
if [ "$keep" -eq 1 ]; then
  echo "run: press Ctrl-C to end"
  wait "$wine_pid" || true
fi
