# Shared by the entry-point scripts: paths, the two build configurations and Wine.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_root=${BUILD_ROOT:-$repo_root/build}
native_dir=$build_root/native
win32_dir=$build_root/win32
jobs=${JOBS:-$(nproc)}

export WINEPREFIX=${WINEPREFIX:-$build_root/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win32
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

configure_native() {
  cmake -G Ninja -S "$repo_root" -B "$native_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_win32() {
  cmake -G Ninja -S "$repo_root" -B "$win32_dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/toolchain-mingw-i686.cmake" >/dev/null
}

# A 32-bit Wine prefix, made once (the first start takes a while).
ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w || true
  fi
}
