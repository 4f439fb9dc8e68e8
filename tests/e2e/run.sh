#!/usr/bin/env bash
# Runs every end-to-end check (tests/e2e/check_*.py and check_*.sh), one at a
# time, each within a time limit, and prints one line per check and a closing
# line "e2e: N passed, M failed". A check that exits 77 is skipped (no root:
# no namespaces, so nothing is started and nothing is sent).
#
#   tests/e2e/run.sh BUILD_NATIVE BUILD_WIN32 [PATTERN]
#
# PATTERN (a shell pattern) picks checks by name, e.g. 'check_corvane_*'.
# E2E_TIMEOUT: seconds per check (default 120).
set -uo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_NATIVE BUILD_WIN32 [PATTERN]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
E2E_NATIVE=$(cd "$1" 2>/dev/null && pwd || echo "$1")
E2E_WIN32=$(cd "$2" 2>/dev/null && pwd || echo "$2")
export E2E_NATIVE E2E_WIN32
pattern=${3:-check_*}
limit=${E2E_TIMEOUT:-120}
export PYTHONDONTWRITEBYTECODE=1
export PYTHONPATH="$here${PYTHONPATH:+:$PYTHONPATH}"

# A check stopped hard (SIGKILL after its limit) cannot remove its namespaces:
# remove those whose check process is gone, with what still runs inside.
sweep_namespaces() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^e2e-(pc|dev)-[0-9]+$'); do
    pid=${ns##*-}
    kill -0 "$pid" 2>/dev/null && continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns"
  done
}

passed=0 failed=0 skipped=0
for check in "$here"/check_*.py "$here"/check_*.sh; do
  [ -f "$check" ] || continue
  name=$(basename "$check")
  name=${name%.*}
  # shellcheck disable=SC2053
  [[ $name == $pattern ]] || continue
  case $check in
    *.py) runner=(python3 "$check") ;;
    *) runner=(bash "$check") ;;
  esac
  log="$E2E_WIN32/e2e/$name.out"
  mkdir -p "$E2E_WIN32/e2e"
  start=$SECONDS
  # SIGTERM first: the check's own clean-up removes what it started.
  timeout -k 15 "$limit" "${runner[@]}" >"$log" 2>&1
  rc=$?
  [ "$(id -u)" -eq 0 ] && sweep_namespaces
  took=$((SECONDS - start))
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS $name (${took} s)"
  elif [ $rc -eq 77 ]; then
    skipped=$((skipped + 1))
    echo "SKIP $name: $(tail -n 1 "$log")"
  else
    failed=$((failed + 1))
    [ $rc -eq 124 ] && echo "FAIL $name: over the ${limit} s limit" || echo "FAIL $name (${took} s)"
    sed 's/^/    /' "$log" | tail -n 30
  fi
done
[ $skipped -ne 0 ] && echo "e2e: $skipped skipped"
echo "e2e: $passed passed, $failed failed"
[ $failed -eq 0 ]
