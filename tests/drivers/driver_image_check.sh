#!/usr/bin/env bash
# Checks the kernel driver images the way Windows' loader reads them: the
# 32-bit one a PE32 and the 64-bit one a PE32+, each a native-subsystem image
# with an entry point, carrying its relocations (Windows loads a kernel image
# where it likes), and not marked a DLL. Prints one line per check and
#   driver_image_check: N passed, M failed
#
#   tests/drivers/driver_image_check.sh WIN32_BUILD WIN64_BUILD
set -uo pipefail
passed=0 failed=0
check() {  # check WHAT CONDITION
  if [ "$2" = yes ]; then
    passed=$((passed + 1)) && echo "ok: $1"
  else
    failed=$((failed + 1)) && echo "FAILED: $1"
  fi
}
has() { grep -qE "$1" <<<"$2" && echo yes || echo no; }

for pair in "$1/qnvport.sys i686 PE32 " "$2/qnvport.sys x86_64 PE32\+"; do
  read -r image arch magic <<<"$pair"
  headers=$(${arch}-w64-mingw32-objdump -p "$image" 2>/dev/null)
  check "$arch: $image is a ${magic//\\/} image" "$(has "^Magic[[:space:]]+[0-9a-f]+[[:space:]]+\($magic\)" "$headers")"
  check "$arch: native subsystem" "$(has '^Subsystem[[:space:]]+00000001' "$headers")"
  entry=$(sed -nE 's/^AddressOfEntryPoint[[:space:]]+([0-9a-fA-F]+)$/\1/p' <<<"$headers")
  check "$arch: an entry point (${entry:-none})" "$([ -n "$entry" ] && [ $((16#$entry)) -ne 0 ] && echo yes || echo no)"
  flags=$(sed -nE 's/^Characteristics[[:space:]]+0x([0-9a-fA-F]+)$/\1/p' <<<"$headers" | head -n 1)
  check "$arch: relocations not stripped" "$([ -n "$flags" ] && [ $((16#$flags & 1)) -eq 0 ] && echo yes || echo no)"
  relocs=$(sed -nE 's/^Entry 5 [0-9a-fA-F]+ ([0-9a-fA-F]+) Base Relocation Directory.*/\1/p' <<<"$headers")
  check "$arch: relocations present (${relocs:-none} bytes, hex)" \
    "$([ -n "$relocs" ] && [ $((16#$relocs)) -ne 0 ] && echo yes || echo no)"
  # A driver image, not a DLL: Wine picks the 32- or 64-bit driver host by the
  # image's type, which it reads only from a non-DLL image.
  check "$arch: not marked a DLL" "$([ -n "$flags" ] && [ $((16#$flags & 0x2000)) -eq 0 ] && echo yes || echo no)"
done
echo "driver_image_check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
