#!/usr/bin/env bash
# Signs copies of what a release ships (both drivers, the programs, the
# installer) with a throw-away test certificate through scripts/sign, checks
# every signature against that certificate, and checks that a file changed
# after signing no longer passes. Prints one line per check and
#   sign_check: N passed, M failed
#
#   tests/installer/sign_check.sh WIN32_BUILD WIN64_BUILD
set -uo pipefail
repo_root=$(cd "$(dirname "$0")/../.." && pwd)
win32=$1 win64=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}

files=()
copy() {  # copy SOURCE NAME
  if [ -f "$1" ]; then
    cp "$1" "$work/$2"
    files+=("$work/$2")
  else
    failed=$((failed + 1))
    echo "FAILED: $1 was not built"
  fi
}
copy "$win32/qnvport.sys" qnvport-x86.sys
copy "$win64/qnvport.sys" qnvport-amd64.sys
copy "$win32/vportd.exe" vportd-x86.exe
copy "$win64/vportd.exe" vportd-amd64.exe
copy "$win64/devcon.exe" devcon-amd64.exe
copy "$win32/marlet/marlet.exe" marlet.exe
copy "$win32/corvane/corvane.exe" corvane.exe
installer=$(cat "$win32/packaging/installer_path" 2>/dev/null)
copy "${installer:-missing-installer}" setup.exe

check "scripts/sign signs ${#files[@]} files with a test certificate" \
  bash "$repo_root/scripts/sign" --test-cert "$work/cert" "${files[@]}"
for f in "${files[@]}"; do
  check "$(basename "$f") carries a signature that checks" \
    osslsigncode verify -CAfile "$work/cert/cert.pem" -in "$f"
done
# A byte changed after signing: the signature must no longer hold.
tampered=$work/tampered.sys
cp "$work/qnvport-amd64.sys" "$tampered" 2>/dev/null &&
  printf '\x90' | dd of="$tampered" bs=1 seek=1100 conv=notrunc status=none
check "a driver changed after signing fails the check" \
  bash -c "! osslsigncode verify -CAfile '$work/cert/cert.pem' -in '$tampered'"
check "scripts/sign refuses a file it cannot find" bash -c "! bash '$repo_root/scripts/sign' --test-cert '$work/cert' '$work/absent.exe'"
echo "sign_check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
