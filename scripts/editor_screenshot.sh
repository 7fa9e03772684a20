#!/usr/bin/env bash
# Builds the editor tests and photographs an editor window holding resources/sample.md on a
# virtual display. Usage: editor_screenshot.sh [output.png] [dark]
source "$(dirname "$0")/common.sh"
PACKAGES="$PACKAGES imagemagick"
install_packages
build_project --target editor_tests
prepare_wine_prefix
OUT=$(realpath -m "${1:-$BUILD_DIR/editor-screenshot.png}")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export PELLIX_DEMO_FILE=$(windows_path "$ROOT/resources/sample.md")
export PELLIX_DEMO_READY=$(windows_path "$WORK/ready")
export PELLIX_DEMO_DONE=$(windows_path "$WORK/done")
[ "${2:-}" = dark ] && export PELLIX_DEMO_DARK=1
cd "$BUILD_DIR"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    wineserver -p
    wine ./editor_tests.exe --gtest_also_run_disabled_tests \
        --gtest_filter=EditorDemo.* >"$0/demo.log" 2>&1 &
    demo=$!
    for _ in $(seq 600); do
        [ -f "$0/ready" ] && break
        sleep 0.1
    done
    sleep 0.5
    import -window root -crop 900x560+0+0 "$1"
    touch "$0/done"
    wait $demo
    status=$?
    wineserver -k || true
    exit $status' "$WORK" "$OUT"
echo "Saved $OUT"
