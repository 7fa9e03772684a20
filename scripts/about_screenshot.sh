#!/usr/bin/env bash
# Screenshot of the About box, taken on a virtual display while the About test holds the box
# open: scripts/about_screenshot.sh [out.png] (default build/about_screenshot.png)
source "$(dirname "$0")/common.sh"
PACKAGES="$PACKAGES imagemagick"
install_packages
build_project --target app_tests
output=$(realpath -m "${1:-$BUILD_DIR/about_screenshot.png}")
PELLIX_ABOUT_HOLD_MS=4000 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source "$1/scripts/common.sh"
    prepare_wine_prefix
    wineserver -p
    (cd "$BUILD_DIR" && wine ./app_tests.exe --gtest_filter="AboutBox.Shows*" >/dev/null 2>&1) &
    tests=$!
    sleep 5
    import -window root "$2"
    wait $tests
    wineserver -k || true' screenshot "$ROOT" "$output"
echo "$output"
