#!/bin/sh
# Runs one Windows test program under Wine for CTest and exits with its code.
#
# The first Wine program of a session starts wineserver and Wine's own
# service processes (services.exe, winedevice.exe, explorer.exe ...), and they
# inherit its output. They outlive the program: seconds as a rule, minutes when
# one of them is slow to go, and CTest, which waits until nobody holds the
# test's output any more, would count that time against the test. So the
# program writes to a file, shown as it grows, and its result is known when it
# exits. The next test should still find no Wine left of this one (a driver
# still loaded keeps its file busy): the wrapper then waits for wineserver to
# end, but no longer than 30 s.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
wine "$@" >"$out" 2>&1 </dev/null &
program=$!
tail -n +1 -f --pid="$program" "$out" &
shown=$!
wait "$program"
status=$?
wait "$shown"
rm -f "$out"
timeout 30 wineserver -w >/dev/null 2>&1 </dev/null
exit "$status"
