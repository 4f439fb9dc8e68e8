# 32-bit x86 programs on this machine: Wine's 32-bit side (its loader, and the
# programs it starts) is made of them. Some kernels refuse them ("IA-32 emulation
# off": execve of an i386 ELF returns ENOEXEC). There, QEMU's user-mode emulator
# is registered with binfmt_misc for i386 ELF programs, and Wine's 64-bit
# wineserver (Debian's wine64 package, which Debian's `wineserver` wrapper then
# prefers) serves the 32-bit clients: a 32-bit wineserver under the emulator
# starts, but cannot write into the emulated processes it serves.
#
# Sourced by scripts/setup after common.sh; nothing here leaves a service
# running. What it decided is kept in $ia32_dir/mode ("native" or "emulated") for
# common.sh.

ia32_dir=$build_root/ia32
ia32_probe=$ia32_dir/probe32
ia32_handler=ia32-qemu                   # our binfmt_misc entry
ia32_binfmt=/proc/sys/fs/binfmt_misc
# QEMU before 10 runs plain 32-bit programs but not Wine ("failed to map the
# shared user data: c0000018").
ia32_qemu_major=10
ia32_qemu_suite=trixie                   # Debian's first release with QEMU 10

# A static i386 ELF of 96 bytes that calls exit(42) through int 0x80: it answers
# whether the kernel (or a registered handler) runs 32-bit programs, and needs
# no 32-bit library.
ia32_make_probe() {
  [ -x "$ia32_probe" ] && return 0
  mkdir -p "$ia32_dir"
  python3 - "$ia32_probe" <<'EOF'
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0,     # mov eax, 1 (exit)
              0xBB, 42, 0, 0, 0,    # mov ebx, 42
              0xCD, 0x80])          # int 0x80
base, ehsize, phsize = 0x08048000, 52, 32
size = ehsize + phsize + len(code)
header = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
header += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehsize + phsize, ehsize, 0, 0,
                      ehsize, phsize, 1, 0, 0, 0)
segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(header + segment + code)
EOF
  chmod +x "$ia32_probe"
}

ia32_runs() {
  ia32_make_probe
  local rc=0
  "$ia32_probe" 2>/dev/null || rc=$?
  [ "$rc" -eq 42 ]
}

# The enabled binfmt_misc entries that take i386 ELF programs (ours or another's).
ia32_handlers() {
  local entry
  for entry in "$ia32_binfmt"/*; do
    case "${entry##*/}" in register | status) continue ;; esac
    [ -f "$entry" ] || continue
    grep -qx enabled "$entry" || continue
    grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" && echo "$entry"
  done
}

ia32_qemu_is_recent() {
  local major
  major=$("$1" --version 2>/dev/null | sed -nE '1s/.*version ([0-9]+)\..*/\1/p')
  [ -n "$major" ] && [ "$major" -ge "$ia32_qemu_major" ]
}

# A QEMU user-mode emulator for i386 of version 10 or later, printed as a path:
# the release's own when it is recent enough, otherwise the static binary of the
# next release's qemu-user package, fetched by name from Debian's archive with a
# private apt state (the machine's own sources stay as they are) and unpacked
# into the build folder.
ia32_fetch_qemu() {
  local qemu=$ia32_dir/qemu-i386
  if ia32_qemu_is_recent "$qemu"; then echo "$qemu"; return 0; fi
  if ia32_qemu_is_recent /usr/bin/qemu-i386; then echo /usr/bin/qemu-i386; return 0; fi
  local candidate
  candidate=$(apt-cache policy qemu-user 2>/dev/null | sed -nE 's/^ *Candidate: ([0-9]+:)?([0-9]+)\..*/\2/p')
  if [ -n "$candidate" ] && [ "$candidate" -ge "$ia32_qemu_major" ]; then
    apt-get install -y -q qemu-user >&2 && ia32_qemu_is_recent /usr/bin/qemu-i386 &&
      { echo /usr/bin/qemu-i386; return 0; }
  fi
  local apt=$ia32_dir/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/deb"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $ia32_qemu_suite main" \
    >"$apt/sources.list"
  local opts=(-o Dir::Etc::sourcelist="$apt/sources.list" -o Dir::Etc::sourceparts=-
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache"
    -o APT::Architecture=amd64 -o APT::Architectures=amd64 -o APT::Sandbox::User=root -q)
  apt-get "${opts[@]}" update >&2 || return 1
  (cd "$apt/deb" && rm -f ./*.deb && apt-get "${opts[@]}" download qemu-user >&2) || return 1
  rm -rf "$apt/unpacked"
  dpkg-deb -x "$apt"/deb/qemu-user_*.deb "$apt/unpacked" || return 1
  install -m 755 "$apt/unpacked/usr/bin/qemu-i386" "$qemu" || return 1
  rm -rf "$apt"
  ia32_qemu_is_recent "$qemu" || return 1
  echo "$qemu"
}

# Registers QEMU for i386 ELF programs. P keeps argv[0] as the program gave it;
# F opens the emulator now, so the entry works in every namespace and outlives
# the build folder.
ia32_register() {
  local qemu=$1
  if [ ! -f "$ia32_binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$ia32_binfmt" || return 1
  fi
  [ -f "$ia32_binfmt/status" ] && echo 1 >"$ia32_binfmt/status"
  [ -e "$ia32_binfmt/$ia32_handler" ] && echo -1 >"$ia32_binfmt/$ia32_handler"
  # Another handler for i386 (an older QEMU, say) would be tried first.
  local other
  for other in $(ia32_handlers); do
    echo "setup: disabling the i386 handler ${other##*/} ($(sed -n 's/^interpreter //p' "$other"))" >&2
    echo 0 >"$other"
  done
  printf '%s' ":$ia32_handler:M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:PF" \
    >"$ia32_binfmt/register"
}

# Whether an enabled i386 handler will do for Wine: ours (registered only with a
# recent QEMU, and held open by the kernel even when the build folder that held
# it is gone), or another whose QEMU is recent enough.
ia32_good_handler() {
  local entry
  for entry in $(ia32_handlers); do
    [ "${entry##*/}" = "$ia32_handler" ] && return 0
    ia32_qemu_is_recent "$(sed -n 's/^interpreter //p' "$entry")" && return 0
  done
  return 1
}

# Decides and prepares; writes the mode. Returns non-zero, having said why in
# one line, when this machine can run no 32-bit program.
ia32_ensure() {
  mkdir -p "$ia32_dir"
  if [ -z "$(ia32_handlers 2>/dev/null)" ] && ia32_runs; then
    echo native >"$ia32_dir/mode"
    return 0
  fi
  # Emulated, or to be: a handler of ours (or a recent one) is enough as it is.
  if ! { ia32_good_handler && ia32_runs; }; then
    echo "setup: this kernel refuses 32-bit programs; registering QEMU's i386 user-mode emulator"
    local qemu
    if ! qemu=$(ia32_fetch_qemu) || ! ia32_register "$qemu" || ! ia32_runs; then
      echo "setup: this machine runs no 32-bit x86 program and QEMU ${ia32_qemu_major}'s i386 emulator could not be set up for it: Wine's 32-bit side cannot run here" >&2
      echo none >"$ia32_dir/mode"
      return 1
    fi
  fi
  echo emulated >"$ia32_dir/mode"
  # The 64-bit wineserver, of the same Wine version as the 32-bit loader.
  if ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q 'install ok installed'; then
    echo "setup: installing wine64 for its 64-bit wineserver"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q wine64 >/dev/null ||
      { apt-get update -q >/dev/null && apt-get install -y -q wine64 >/dev/null; } || return 1
  fi
}
