#!/usr/bin/env bash
# Screenshot of a Markdown file (default resources/sample.md) beside its preview, taken on a
# virtual display: scripts/preview_screenshot.sh [file.md] [out.png] [dark]
source "$(dirname "$0")/common.sh"
PACKAGES="$PACKAGES imagemagick"
install_packages
build_project --target preview_show
prepare_wine_prefix
input=$(realpath "${1:-$ROOT/resources/sample.md}")
output=$(realpath -m "${2:-$BUILD_DIR/preview_screenshot.png}")
mode=${3:-light}
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    wineserver -p
    wine "$1" "Z:$2" 8 "$4" &
    shown=$!
    sleep 6
    import -window root "$3"
    wait $shown
    wineserver -k || true' screenshot "$BUILD_DIR/preview_show.exe" "$input" "$output" "$mode"
echo "$output"
