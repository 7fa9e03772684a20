#!/usr/bin/env bash
# Builds the app tests and photographs the main window in Split view with the outline shown on
# a virtual display. Usage: panes_screenshot.sh [output.png] [dark]
source "$(dirname "$0")/common.sh"
PACKAGES="$PACKAGES imagemagick"
install_packages
build_project --target app_tests
prepare_wine_prefix
OUT=$(realpath -m "${1:-$BUILD_DIR/panes-screenshot.png}")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export PELLIX_DEMO_READY=$(windows_path "$WORK/ready")
export PELLIX_DEMO_DONE=$(windows_path "$WORK/done")
[ "${2:-}" = dark ] && export PELLIX_DEMO_DARK=1
cd "$BUILD_DIR"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    wineserver -p
    # Direct2D in the editor (a child window) reaches the screen only through the Vulkan
    # renderer; the test program gets it for this run alone, since its pixel tests read GDI.
    defaults="HKCU\\Software\\Wine\\AppDefaults\\app_tests.exe"
    wine reg add "$defaults\\Direct3D" /v renderer /t REG_SZ /d vulkan /f >/dev/null 2>&1
    wine ./app_tests.exe --gtest_also_run_disabled_tests \
        --gtest_filter=PanesDemo.* >"$0/demo.log" 2>&1 &
    demo=$!
    for _ in $(seq 600); do
        [ -f "$0/ready" ] && break
        sleep 0.1
    done
    sleep 0.5
    import -window root -crop 1220x860+0+0 "$1"
    touch "$0/done"
    wait $demo
    status=$?
    wine reg delete "$defaults" /f >/dev/null 2>&1
    wineserver -k || true
    exit $status' "$WORK" "$OUT"
echo "Saved $OUT"
