# Shared by the run, test and bench scripts: packages, build and the project's Wine prefix.
# BUILD_DIR picks the build folder (default: build); the Wine prefix lives inside it.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
export WINEPREFIX=$BUILD_DIR/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
# BUILD_JOBS caps the compilers run side by side (default: every core), for several builds at once.
BUILD_JOBS=${BUILD_JOBS:-$(nproc)}

PACKAGES="cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
binutils-mingw-w64-x86-64 wine64 xvfb xauth fonts-liberation googletest clang libclang-rt-14-dev
mesa-vulkan-drivers"

# Wine sees the Linux file system as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

install_packages() {
    local missing=()
    for p in $PACKAGES; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

build_project() {
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD_DIR" -j"$BUILD_JOBS" "$@"
}

# The pure units, their tests and the fuzz targets, built natively with clang and the sanitizers
# into $BUILD_DIR/native.
build_native() {
    cmake -S "$ROOT/tests/native" -B "$BUILD_DIR/native" -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ >/dev/null
    cmake --build "$BUILD_DIR/native" -j"$BUILD_JOBS" "$@"
}

# Sets one registry value in the prefix. A loaded machine has been seen to fail a Wine start
# now and then, so a failed setting is tried again before the preparation gives up.
set_wine_value() {
    local key=$1 name=$2 type=$3 data=$4
    for attempt in 1 2 3; do
        wine reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null 2>&1 && return 0
        echo "Setting $name in the Wine prefix failed (attempt $attempt)" >&2
        wineserver -w || true
    done
    return 1
}

# Wine has none of the Windows UI fonts; DirectWrite fails on a missing family, so the prefix
# maps them to installed ones. Each step is checked on its own, so that a failure stops the
# preparation (and leaves the prefix unmarked) also where the caller tests the status.
prepare_wine_prefix() {
    [ -f "$WINEPREFIX/.pellix-ready-5" ] && return 0
    mkdir -p "$WINEPREFIX" || return 1
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    local key='HKCU\Software\Wine\Fonts\Replacements'
    set_wine_value "$key" "Segoe UI" REG_SZ "Liberation Sans" || return 1
    set_wine_value "$key" "Segoe UI Semibold" REG_SZ "Liberation Sans" || return 1
    set_wine_value "$key" "Consolas" REG_SZ "Liberation Mono" || return 1
    set_wine_value "$key" "Segoe Fluent Icons" REG_SZ "Liberation Sans" || return 1
    set_wine_value "$key" "Segoe MDL2 Assets" REG_SZ "Liberation Sans" || return 1
    # With wined3d's OpenGL renderer, Direct2D drawing into a child window's render target never
    # reaches the X window; the Vulkan renderer presents it. Only the program gets it: GDI cannot
    # read back what Vulkan presents, and the test programs check pixels through GDI.
    set_wine_value 'HKCU\Software\Wine\AppDefaults\Pellix.exe\Direct3D' renderer REG_SZ vulkan ||
        return 1
    # A program that crashes prints its registers and backtrace into the test log rather than
    # waiting in a crash dialog on the virtual display, where nobody sees it.
    set_wine_value 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0 || return 1
    wineserver -w || true
    touch "$WINEPREFIX/.pellix-ready-5"
}

# Runs a command inside a virtual display with the prefix's Wine services started and one
# persistent wineserver, which makes each Wine start cost milliseconds; answers its status.
# PELLIX_FIRST_DISPLAY is where the search for a free display number starts.
in_wine_session() {
    xvfb-run -a -n "${PELLIX_FIRST_DISPLAY:-99}" -s "-screen 0 1280x1024x24" bash -c '
        wineserver -p
        # Start the Wine services now, detached from the command'"'"'s output pipes: started by the
        # first test they would inherit its pipe and ctest would wait for them forever.
        wineboot >/dev/null 2>&1 </dev/null
        status=0
        "$@" || status=$?
        wineserver -k || true
        exit $status' wine-session "$@"
}
