#!/usr/bin/env bash
# Drags the real program's window edge on a virtual display (Split view, a long Markdown file):
# DRAGS runs of 40 sizes 25 ms apart, each run followed by a rest, while the screen is captured
# as fast as shared memory allows. Keeps every capture that differs from the one before as a PNG
# named by its time in ms, and prints for each drag when the last size came and from which
# capture on the picture equals the final one (the last before the rest ends).
# Usage: resize_captures.sh [output folder] [dark]
# DRAGS (default 1) sets the drags, REST (default 1.3) the seconds of rest after each;
# PELLIX_NO_BUILD=1 skips the build; PELLIX_EXE runs another build of the program (named
# Pellix.exe, for the renderer the prefix gives it).
source "$(dirname "$0")/common.sh"
PACKAGES="$PACKAGES imagemagick xdotool libx11-dev libxext-dev"
install_packages
[ -n "${PELLIX_NO_BUILD:-}" ] || build_project --target Pellix
prepare_wine_prefix
OUT=$(realpath -m "${1:-$BUILD_DIR/resize-captures}")
rm -rf "$OUT"
mkdir -p "$OUT"
gcc -O2 -o "$BUILD_DIR/x_capture" "$ROOT/scripts/tools/x_capture.c" -lX11 -lXext
WORK=$(mktemp -d /dev/shm/pellix-resize.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
{
    for i in $(seq 1 40); do
        echo "## Section $i"
        echo
        echo "A paragraph of words number $i, long enough to wrap in a narrow pane and to show where the text stands while the window's edge moves."
        echo
        echo "- an item with \`code\` and **bold** words"
        echo
    done
} >"$WORK/notes.md"
THEME_VALUE=1
[ "${2:-}" = dark ] && THEME_VALUE=2
REST=${REST:-1.3}
export OUT WORK THEME_VALUE BUILD_DIR REST
xvfb-run -a -s "-screen 0 1400x1000x24" bash -c '
    wineserver -p
    # Drafts a killed earlier run left would put their question over the window captured.
    store=$(winepath -u "$(wine cmd /c "echo %LOCALAPPDATA%" 2>/dev/null | tr -d "\r")" 2>/dev/null)
    [ -n "$store" ] && rm -rf "${store%/}/Pellix/Native"
    key="HKCU\\Software\\Orvelworks\\Pellix Native"
    wine reg add "$key" /v View /t REG_DWORD /d 302 /f >/dev/null 2>&1
    wine reg add "$key" /v Theme /t REG_DWORD /d $THEME_VALUE /f >/dev/null 2>&1
    wine reg delete "$key" /v WindowPlacement /f >/dev/null 2>&1 || true
    wine "${PELLIX_EXE:-$BUILD_DIR/Pellix.exe}" "Z:${WORK//\//\\}\\notes.md" >/dev/null 2>&1 &
    program=$!
    window=""
    for _ in $(seq 1 150); do
        window=$(xdotool search --name "^notes.md - Pellix$" 2>/dev/null | head -1 || true)
        [ -n "$window" ] && break
        sleep 0.2
    done
    [ -n "$window" ] || { echo "The main window did not appear." >&2; exit 1; }
    xdotool windowmove --sync "$window" 0 0 windowsize --sync "$window" 1000 700
    sleep 3
    mkdir -p "$WORK/frames"
    "$BUILD_DIR/x_capture" "$DISPLAY" 0 0 1320 960 $(( ${DRAGS:-1} * 3 + 1 )) "$WORK/frames" >"$WORK/capture.log" &
    capture=$!
    while ! grep -q start "$WORK/capture.log" 2>/dev/null; do sleep 0.01; done
    sleep 0.2
    for drag in $(seq 1 ${DRAGS:-1}); do
        chain=()
        for i in $(seq 1 40); do
            case $drag in
            1) w=$((1000 + 7 * i)); h=700 ;;
            2) w=1280; h=$((700 + 6 * i)) ;;
            *) w=$((1280 - 10 * i)); h=940 ;;
            esac
            chain+=(windowsize "$window" "$w" "$h" sleep 0.025)
        done
        xdotool "${chain[@]}"
        echo "last size $(date +%s%3N)" >>"$WORK/sizes.log"
        sleep "$REST"
    done
    wait $capture
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" alt+F4 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 $program 2>/dev/null || break; sleep 0.2; done
    kill $program 2>/dev/null || true
    wineserver -k || true
'
cat "$WORK/capture.log"
start=$(awk "/^start/ {print \$2}" "$WORK/capture.log")
for f in "$WORK"/frames/*.ppm; do
    convert "$f" "$OUT/$(basename "$f" .ppm).png"
done
# Pictures that differ in at most 100 pixels count as equal: the caret's blink changes fewer.
differ() {
    # compare answers 1 for pictures that differ.
    local changed
    changed=$(compare -metric AE "$OUT/$1.png" "$OUT/$2.png" null: 2>&1 | cut -d' ' -f1 || true)
    awk "BEGIN { exit !($changed > 100) }"
}
# For each drag: the final picture is the last capture before the rest ends; the picture is
# final from the first capture after the last size from which every capture equals it.
frames=$(ls "$OUT" | sed 's/.png$//' | sort -n)
for last_size in $(awk -v start="$start" '{print $3 - start}' "$WORK/sizes.log"); do
    after=$(echo "$frames" | awk -v from="$last_size" -v to="$REST" \
        '$1 > from && $1 < from + to * 1000 - 50')
    final=$(echo "$after" | tail -1)
    crisp=""
    if [ -n "$final" ]; then
        for frame in $(echo "$after" | sort -rn); do
            differ "$frame" "$final" && break
            crisp=$frame
        done
    fi
    echo "last size at $last_size ms; the final picture from ${crisp:-none}" \
        "(+$(awk "BEGIN { print ${crisp:-$last_size} - $last_size }") ms)," \
        "$(echo "$after" | grep -c . || true) captures after the last size"
done
echo "Saved $(ls "$OUT" | wc -l) captures in $OUT"
