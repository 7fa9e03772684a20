#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pellix on resources/sample.md (arguments replace
# the sample). With a display the program runs there until it is closed. Without one it runs on
# a virtual display: the script waits for the main window to be painted, saves a screenshot
# (its path is printed; SCREENSHOT chooses it), and ends the program.
source "$(dirname "$0")/common.sh"
PACKAGES="$PACKAGES imagemagick xdotool"
install_packages
build_project --target Pellix
args=("$@")
# Wine maps the Unix root to drive Z:.
[ ${#args[@]} -eq 0 ] && args=("Z:${ROOT//\//\\}\\resources\\sample.md")

if [ -n "${DISPLAY:-}" ]; then
    prepare_wine_prefix
    exec wine "$BUILD_DIR/Pellix.exe" "${args[@]}"
fi

screenshot=${SCREENSHOT:-$BUILD_DIR/pellix-screenshot.png}
export SCREENSHOT=$screenshot
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    source "'"$ROOT"'/scripts/common.sh"
    prepare_wine_prefix
    wine "$BUILD_DIR/Pellix.exe" "$@" &
    program=$!
    window=""
    for _ in $(seq 1 150); do
        window=$(xdotool search --name "Pellix" 2>/dev/null | head -1 || true)
        [ -n "$window" ] && break
        sleep 0.2
    done
    if [ -z "$window" ]; then
        echo "The main window did not appear." >&2
        kill "$program" 2>/dev/null || true
        exit 1
    fi
    # The first paint follows the window'"'"'s appearance within a moment.
    sleep 2
    import -window root "$SCREENSHOT"
    echo "Screenshot: $SCREENSHOT"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" alt+F4 2>/dev/null || true
    for _ in $(seq 1 50); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.2
    done
    kill "$program" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
' run-pellix "${args[@]}"
