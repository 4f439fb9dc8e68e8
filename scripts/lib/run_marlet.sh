#!/usr/bin/env bash
# `scripts/run marlet`: builds marlet.exe with the virtual serial port driver and
# the removal tool, stages them in the Wine prefix, and starts marlet.exe. Add
# then installs a real port through the driver, Remove takes it away again.
#
# With $DISPLAY set the program opens there and the run lasts until it closes.
# Without one it runs on a private Xvfb display, writes a screenshot to the file
# it names, and ends (--keep: keeps it running until Ctrl-C). Ports added stay
# in the prefix until removed; the driver starts again with the next Wine start.
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/vport.sh"

keep=0
[ "${1:-}" = "--keep" ] && keep=1

bash "$repo_root/scripts/setup"
configure_win32
cmake --build "$win32_dir" -j "$jobs" --target marlet qnvport devcon
exe="$win32_dir/marlet/marlet.exe"
ensure_wineprefix

run_dir="$build_root/run-marlet"
stage_vport_driver "$run_dir"
cd "$run_dir"  # the program opens the installation file by its bare name

xvfb_pid=""
cleanup() {
  timeout 10 wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
  display_number=$((90 + RANDOM % 100))
  Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >"$run_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$display_number"
  headless_display=1
else
  headless_display=0
fi

echo "run: starting marlet.exe on display $DISPLAY (driver staged in $WINEPREFIX)"
wine "$exe" >"$run_dir/marlet.log" 2>&1 &
wine_pid=$!

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
