#!/bin/bash
# Starts the toolkit sample under Wine on a private Xvfb display, waits for its
# window by title, takes a screenshot of the display, closes the program, and
# fails unless the window existed and the picture is not all black.
#
#   screenshot_check.sh BUILD_DIR OUT_PNG
#
# Wine prefix: $WINEPREFIX, or BUILD_DIR/wineprefix (created on first use).
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR OUT_PNG" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd) || exit 2
out_png=$2
exe="$build_dir/tests/toolkit/sample/tk_sample.exe"
title="Toolkit Sample"
[ -f "$exe" ] || { echo "screenshot_check: $exe not built" >&2; exit 2; }
for tool in Xvfb wine xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "screenshot_check: $tool is missing" >&2; exit 2; }
done

export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=-all
work=$(mktemp -d)
xvfb_pid=
wine_pid=
cleanup() {
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot_check: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

if [ ! -d "$WINEPREFIX" ]; then
  timeout 300 wineboot -i >/dev/null 2>&1
fi

wine "$exe" >"$work/wine.log" 2>&1 &
wine_pid=$!

window=
for _ in $(seq 1 120); do
  window=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  kill -0 "$wine_pid" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$window" ]; then
  echo "screenshot_check: no window titled \"$title\" appeared" >&2
  cat "$work/wine.log" >&2
  exit 1
fi
sleep 2  # let the first paint finish

import -window root "$out_png" || { echo "screenshot_check: screenshot failed" >&2; exit 1; }

# Close the program: its process, then a hard stop if it lingers.
kill "$wine_pid" 2>/dev/null
for _ in $(seq 1 20); do
  kill -0 "$wine_pid" 2>/dev/null || break
  sleep 0.25
done
kill -9 "$wine_pid" 2>/dev/null
wine_pid=

maxima=$(convert "$out_png" -format "%[fx:maxima]" info:) || exit 1
if awk -v m="$maxima" 'BEGIN { exit !(m > 0) }'; then
  echo "screenshot_check: window $window shown, screenshot $out_png (brightest channel $maxima)"
  exit 0
fi
echo "screenshot_check: the screenshot is all black" >&2
exit 1
