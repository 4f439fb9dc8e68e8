# Shared by the entry-point scripts: paths, the two build configurations and Wine.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_root=${BUILD_ROOT:-$repo_root/build}
native_dir=$build_root/native
win32_dir=$build_root/win32
win64_dir=$build_root/win64
jobs=${JOBS:-$(nproc)}

# ccache (when installed) keys objects by paths relative to the checkout and
# leaves the build folder out, so a clean clone elsewhere (CI's, say) reuses
# what an earlier build of the same sources made.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$repo_root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

export WINEPREFIX=${WINEPREFIX:-$build_root/wineprefix}
# The 64-bit prefix: the 64-bit driver, data service and tools natively, the
# 32-bit programs under WOW64 (used with WINEARCH=win64; see ensure_wineprefix64).
export WINEPREFIX64=${WINEPREFIX64:-$build_root/wineprefix64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win32
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Where the kernel refuses 32-bit programs (scripts/setup decided: the mode file
# of scripts/lib/ia32.sh), Wine's 32-bit side runs under QEMU and is served by
# the 64-bit wineserver.
choose_wineserver() {
  if [ "$(cat "$build_root/ia32/mode" 2>/dev/null)" = emulated ] && [ -x /usr/lib/wine/wineserver64 ]; then
    export WINESERVER=/usr/lib/wine/wineserver64
  fi
  return 0
}
choose_wineserver

configure_native() {
  cmake -G Ninja -S "$repo_root" -B "$native_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_win32() {
  cmake -G Ninja -S "$repo_root" -B "$win32_dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/toolchain-mingw-i686.cmake" >/dev/null
}

# The 64-bit Windows pieces: the port driver, its data service, the device tool
# and the terminal program (corvane and marlet stay 32-bit).
configure_win64() {
  cmake -G Ninja -S "$repo_root" -B "$win64_dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
}

# A 32-bit Wine prefix, made once (the first start takes a while).
ensure_wineprefix() {
  choose_wineserver
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w || true
  fi
}

# The 64-bit prefix, made once, the same way.
ensure_wineprefix64() {
  if [ ! -f "$WINEPREFIX64/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX64"
    mkdir -p "$(dirname "$WINEPREFIX64")"
    WINEPREFIX=$WINEPREFIX64 WINEARCH=win64 timeout 300 wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$WINEPREFIX64 WINEARCH=win64 timeout 120 wineserver -w || true
  fi
}
