#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pellix on resources/sample.md (arguments replace
# the sample). THEME=light or THEME=dark stores that theme setting in the prefix first.
# With a display the program runs there until it is closed. Without one it runs on a virtual
# display: the script waits for the main window to be painted, saves a screenshot (its path is
# printed; SCREENSHOT chooses it), and ends the program.
source "$(dirname "$0")/common.sh"
args=("$@")
# Wine maps the Unix root to drive Z:.
[ ${#args[@]} -eq 0 ] && args=("Z:${ROOT//\//\\}\\resources\\sample.md")
export SCREENSHOT=${SCREENSHOT:-$BUILD_DIR/pellix-screenshot${THEME:+-$THEME}.png}
export THEME=${THEME:-}

# Runs inside the display: every Wine call of a session must see it.
run_inside_display() {
    prepare_wine_prefix
    # The screenshot shows the file beside its preview: Split view.
    wine reg add 'HKCU\Software\Orvelworks\Pellix Native' /v View /t REG_DWORD /d 302 /f \
        >/dev/null 2>&1
    case "$THEME" in
    light | dark)
        local value=1
        [ "$THEME" = dark ] && value=2
        wine reg add 'HKCU\Software\Orvelworks\Pellix Native' /v Theme /t REG_DWORD /d $value \
            /f >/dev/null 2>&1
        ;;
    esac
    if [ -n "${PELLIX_KEEP_RUNNING:-}" ]; then
        exec wine "$BUILD_DIR/Pellix.exe" "$@"
    fi
    wine "$BUILD_DIR/Pellix.exe" "$@" &
    local program=$! window=""
    for _ in $(seq 1 150); do
        window=$(xdotool search --name ' - Pellix$' 2>/dev/null | head -1 || true)
        [ -n "$window" ] && break
        sleep 0.2
    done
    if [ -z "$window" ]; then
        echo "The main window did not appear." >&2
        kill "$program" 2>/dev/null || true
        return 1
    fi
    # The window is painted before its message loop starts; a moment covers the X server.
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
}
if [ -n "${PELLIX_INSIDE_DISPLAY:-}" ]; then
    run_inside_display "${args[@]}"
    exit
fi
PACKAGES="$PACKAGES imagemagick xdotool"
install_packages
build_project --target Pellix
if [ -n "${DISPLAY:-}" ]; then
    PELLIX_KEEP_RUNNING=1 run_inside_display "${args[@]}"
else
    PELLIX_INSIDE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "${args[@]}"
fi
