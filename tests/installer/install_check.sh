#!/bin/bash
# The installer under Wine, in a fresh prefix of its own on a private Xvfb
# display: a silent install into a folder chosen with /D= puts the programs, the
# port driver, the Start-menu shortcuts and the Add/Remove Programs entry in
# place, and the port data service registered to start with the system (an
# older installation's logon start goes); corvane.exe started through its
# shortcut shows its window; the silent uninstall stops and removes the service
# and everything the install put there and nothing else (a file saved beside the
# programs stays, with its folder).
#
#   install_check.sh BUILD_DIR
#
# BUILD_DIR is the Windows build with the `installer` target made. Prints one
# "ok"/"not ok" line per check and ends with "install_check: N passed, M failed",
# or says "install_check: skipped: ..." without root.
set -u

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd) || exit 2
installer=$(cat "$build_dir/packaging/installer_path" 2>/dev/null)
[ -f "$installer" ] || { echo "install_check: no installer; build the target 'installer'" >&2; exit 2; }
version=$(sed -nE 's/^!define PRODUCT_VERSION "(.*)"$/\1/p' "$build_dir/packaging/release.nsh")
programs=(corvane.exe marlet.exe devcon.exe)
grep -q CORVANECTL_EXE "$build_dir/packaging/release.nsh" && programs+=(corvanectl.exe)
for tool in Xvfb wine wineserver xdotool python3; do
  command -v "$tool" >/dev/null || { echo "install_check: $tool is missing" >&2; exit 2; }
done

if [ "$(id -u)" -ne 0 ]; then
  echo "install_check: skipped: needs root (the programs run in a network namespace of their own)"
  exit 0
fi

work=$(mktemp -d "$build_dir/install-check.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
# No menu entries or file associations may leak from the prefix to this machine.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb_pid=
netns=
cleanup() {
  if [ -n "$netns" ]; then
    timeout 20 ip netns exec "$netns" wineserver -k 2>/dev/null
    timeout 20 ip netns exec "$netns" wineserver -w 2>/dev/null
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  if [ -n "$netns" ]; then
    ip netns del "$netns" 2>/dev/null
    rm -rf "/etc/netns/$netns"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Every Wine program runs in a network namespace of this check with nothing
# but a link to itself: whatever the programs send stays there. The host name
# resolves to the link's address (ip netns exec mounts /etc/netns/NAME/hosts),
# so corvane finds its host address on an adapter.
netns="cvn-inst-$$"
ip netns add "$netns" || exit 1
ip -n "$netns" link set lo up
ip -n "$netns" link add "cvni$$" type veth peer name "cvnj$$"
ip -n "$netns" addr add 198.51.100.1/24 dev "cvni$$"
ip -n "$netns" link set "cvni$$" up
ip -n "$netns" link set "cvnj$$" up
mkdir -p "/etc/netns/$netns"
printf '127.0.0.1 localhost\n198.51.100.1 %s\n' "$(hostname)" >"/etc/netns/$netns/hosts"
# Sockets of Wine programs belong to the wineserver: it starts in there too.
ns=(ip netns exec "$netns")

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    echo "ok - $what"
    passed=$((passed + 1))
  else
    echo "not ok - $what"
    failed=$((failed + 1))
  fi
}
finish() {
  echo "install_check: $passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "install_check: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

echo "install_check: creating a fresh prefix"
timeout 300 "${ns[@]}" wineboot -i >/dev/null 2>&1
timeout 60 "${ns[@]}" wineserver -w
drive_c=$WINEPREFIX/drive_c
[ -d "$drive_c" ] || { echo "install_check: the prefix was not created" >&2; exit 1; }

# Everything on drive C but Windows itself and the temporary folders (the
# uninstaller runs from a copy there that Windows deletes at the next start).
snapshot() {
  (cd "$drive_c" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -print | sort)
}
# has_version_string FILE KEY VALUE: the version resource's string table holds
# KEY with VALUE (UTF-16, the value on the next 4-byte boundary after the key).
has_version_string() {
  python3 - "$@" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
key, value = (text.encode("utf-16-le") for text in sys.argv[2:4])
sys.exit(re.search(re.escape(key + b"\0\0") + b"(\0\0)?" + re.escape(value + b"\0\0"), data) is None)
PY
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane'
reg_value() {  # reg_value NAME: the uninstall entry's value, or nothing
  timeout 60 "${ns[@]}" wine reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -nE "s/^ +$1 +REG_[A-Z_]+ +(.*)$/\1/p"
}

run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
old_run_value="Marlet port data service"
service_key='HKLM\System\CurrentControlSet\Services\QnVportd'
service_value() {  # service_value NAME: the data service's registry value, or nothing
  timeout 60 "${ns[@]}" wine reg query "$service_key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -nE "s/^ +$1 +REG_[A-Z_]+ +(.*)$/\1/p"
}
service_state() {  # RUNNING, STOPPED, ...; nothing when the service is not registered
  timeout 60 "${ns[@]}" wine sc query QnVportd 2>/dev/null | tr -d '\r' |
    sed -nE 's/^ +STATE +: [0-9]+ +([A-Z_]+).*$/\1/p'
}
service_running() { [ "$(service_state)" = RUNNING ]; }
service_unregistered() { [ -z "$(service_state)" ]; }
# A vportd.exe of this check's namespace runs (other checks may run theirs).
service_runs() {
  local pid own_net
  own_net=$("${ns[@]}" readlink /proc/self/ns/net)
  for pid in $(pgrep -f 'vportd[.]exe'); do
    [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" = "$own_net" ] && return 0
  done
  return 1
}
service_stopped() { ! service_runs; }
# within SECONDS COMMAND...: COMMAND succeeds within about SECONDS, asked every half second.
within() {
  local tries=$(($1 * 2))
  shift
  for _ in $(seq 1 "$tries"); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}

# An older installation started the data service at each logon through a Run
# value: the install replaces that with the service.
timeout 60 "${ns[@]}" wine reg add "$run_key" /v "$old_run_value" /d '"C:\Corvane\vportd.exe"' /f >/dev/null 2>&1

# /D= comes last and unquoted, spaces and all, as a user types it: through cmd,
# since "${ns[@]}" wine would quote an argument with spaces.
cp "$installer" "$drive_c/setup.exe"
before_install=$(snapshot)
win_dir='C:\Corvane Test Folder'
install_dir=$drive_c/Corvane\ Test\ Folder
check "the silent install ends with success" timeout 120 "${ns[@]}" wine cmd /c "C:\\setup.exe /S /D=$win_dir"
timeout 60 "${ns[@]}" wineserver -w

for program in "${programs[@]}" readme.txt uninstall.exe; do
  check "$program is installed" test -s "$install_dir/$program"
done
check "the installed corvane.exe carries version $version" \
  has_version_string "$install_dir/corvane.exe" ProductVersion "$version.0"

# The port driver, where marlet's Add makes the platform look for it.
windows=$drive_c/windows
driver_files=("$windows/system32/drivers/qnvport.sys" "$windows/inf/QN520xx.inf" "$windows/QN520xx.inf"
  "$install_dir/QN520xx.inf" "$install_dir/vportd.exe")
for file in "${driver_files[@]}"; do
  check "the port driver's ${file#"$drive_c"/} is installed" cmp -s "$file" "$build_dir/$(basename "$file")"
done
# The data service ran under the service manager during the install: only
# then does it write its log.
check "the install starts the port data service" test -s "$install_dir/vportd.log"
check "the port data service is registered to start with the system as LocalSystem" \
  test "$(service_value Start)/$(service_value Type)/$(service_value ObjectName)" = "0x2/0x10/LocalSystem"
check "the port data service is registered with its folder's program" \
  test "$(service_value ImagePath)" = "\"$win_dir\\vportd.exe\" --service"
check "no Run value starts the port data service at logon" \
  test -z "$(timeout 60 "${ns[@]}" wine reg query "$run_key" /v "$old_run_value" 2>/dev/null | grep -i vportd)"

start_menu=$drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Corvane
for shortcut in Corvane Marlet Readme "Uninstall Corvane"; do
  check "the Start menu has $shortcut" test -s "$start_menu/$shortcut.lnk"
done

check "Add/Remove Programs lists version $version" test "$(reg_value DisplayVersion)" = "$version"
check "the uninstall entry names the chosen folder" \
  test "$(reg_value UninstallString)" = "\"$win_dir\\uninstall.exe\""

installed=$(comm -13 <(echo "$before_install") <(snapshot))

# corvane through its shortcut: the window appears, then the prefix's programs end.
timeout 30 "${ns[@]}" wine start /unix "$start_menu/Corvane.lnk" >"$work/corvane.log" 2>&1
window=
for _ in $(seq 1 120); do
  window=$(xdotool search --name '^Corvane 2\.9$' 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  sleep 0.5
done
check "corvane.exe started from its shortcut shows its window" test -n "$window"
# It keeps its upgrade settings in the folder it starts in: one the user may write.
profile=$drive_c/users/$(id -un)
corvane_pid=$([ -n "$window" ] && xdotool getwindowpid "$window" 2>/dev/null)
check "corvane.exe starts in the user's profile folder" \
  test -n "$corvane_pid" -a "$(readlink "/proc/$corvane_pid/cwd" 2>/dev/null)" = "$profile"
check "corvane.exe runs in the check's own network namespace" \
  test -n "$corvane_pid" -a "$(readlink "/proc/$corvane_pid/ns/net" 2>/dev/null)" = \
  "$("${ns[@]}" readlink /proc/self/ns/net)"
timeout 20 "${ns[@]}" wineserver -k
timeout 20 "${ns[@]}" wineserver -w

# A Wine session starts the way a system does: the service manager starts the
# service. A program of the check's own holds this session open through the
# uninstall, since the session's end would end the service too, and the
# uninstall is to stop it.
mkfifo "$work/hold"
"${ns[@]}" wine cmd <"$work/hold" >/dev/null 2>&1 &
exec {hold}>"$work/hold"
check "the port data service starts with the system" within 30 service_running
echo "saved by the user" >"$install_dir/settings.txt"
before_uninstall=$(snapshot)
check "the silent uninstall ends with success" timeout 120 "${ns[@]}" wine "$install_dir/uninstall.exe" /S
# The uninstaller hands over to a copy of itself and returns at once; the copy
# stops the service before it deletes its own file.
within 120 test ! -e "$install_dir/uninstall.exe"
check "the uninstall stops the port data service" within 20 service_stopped
check "the uninstall takes the port data service off the service list" service_unregistered
exec {hold}>&-
timeout 60 "${ns[@]}" wineserver -w

expected=$(comm -23 <(echo "$before_uninstall") <(echo "$installed" | grep -vxF "./Corvane Test Folder"))
left=$(snapshot)
check "the uninstall removes every file it installed, and nothing else" test "$left" = "$expected"
if [ "$left" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$left") | sed 's/^/  /'
fi
none_left() { for file in "$@"; do [ ! -e "$file" ] || return 1; done; }
check "the uninstall takes the port driver's files away" none_left "${driver_files[@]}"
check "the file saved beside the programs stays" test -s "$install_dir/settings.txt"
check "the uninstall entry is gone" test -z "$(reg_value DisplayName)"
finish
