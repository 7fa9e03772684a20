#!/usr/bin/env bash
# Loses drafts the hard ways in the real program on a virtual display, typing with real keys and
# killing the process with SIGKILL, and prints what the next start offers (each tab's title and
# text, read from its windows) with PASS or FAIL against what must come back. Captures of every
# start and box, and a log per step, go to the output folder.
# Usage: recovery_real_steps.sh [output folder] [step ...]; steps (default all):
#   flipped-bit       three untitled drafts stored, one bit of the first one's text spoiled so
#                     that it reads as the third's: the two others come back.
#   large-files       35 saved files of 8,000,000 bytes open, then a draft in a new tab: the store
#                     takes the draft, and it comes back.
#   large-drafts      the same 35 files, each typed into: the store takes all 35 drafts (more
#                     than 256 MiB), and all come back.
#   full-disk         (root: a 1 MiB tmpfs over the recovery folder) a stored draft of full.md,
#                     the disk filled, more typed and saved: full.md opens as saved, the older
#                     draft beside it as "full.md (other version)".
#   unchecked-beside  a draft in "tabs.bin", another stored beside it while another program held
#                     it, then one byte of each copy of the first file's stamp spoiled: both come
#                     back, at every later start.
# PELLIX_NO_BUILD=1 skips the build. Exits 1 when a step fails.
source "$(dirname "$0")/common.sh"

all_steps="flipped-bit large-files large-drafts full-disk unchecked-beside"
# Waits, in tenths of a second: for a window, a store, a box.
window_wait=300
store_wait=150
box_wait=200

log() { echo "[$(date +%T)] $*"; }

# ---- Inside the virtual display ------------------------------------------------------------------

program=""
window=""

start_program() {
    wine "$BUILD_DIR/Pellix.exe" "$@" >/dev/null 2>&1 &
    program=$!
    window=""
    for _ in $(seq 1 $window_wait); do
        window=$(xdotool search --name ' - Pellix$' 2>/dev/null | head -1 || true)
        [ -n "$window" ] && return 0
        sleep 0.1
    done
    log "The main window did not appear."
    return 1
}

# Wine execs the program in the process it started, so its id is the program's.
kill_program() {
    kill -9 "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    for _ in $(seq 1 50); do
        [ -z "$(xdotool search --name ' - Pellix$' 2>/dev/null)" ] && break
        sleep 0.1
    done
}

capture() { import -window root "$OUT/$1.png"; }
shown() { wine "$TOOLS/tab_reader.exe" 2>/dev/null | tr -d '\r'; }
keys() {
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --delay 60 "$@"
}
type_text() {
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool type --delay 40 -- "$1"
}

# Answers the "Recover tabs" box with Yes when one comes, after capturing it.
answer_recover_box() {
    local name=$1 box=""
    for _ in $(seq 1 $box_wait); do
        box=$(xdotool search --name '^Recover tabs$' 2>/dev/null | head -1 || true)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || return 0
    sleep 1
    capture "$name-box"
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --window "$box" Return
}

# Waits until "tabs.bin" holds every given text.
stored_with() {
    for _ in $(seq 1 $store_wait); do
        if [ -f "$STORE/tabs.bin" ] && python3 - "$STORE/tabs.bin" "$@" <<'EOF'; then
import sys
data = open(sys.argv[1], 'rb').read()
sys.exit(0 if all(text.encode() in data for text in sys.argv[2:]) else 1)
EOF
            return 0
        fi
        sleep 0.1
    done
    log "The store never held: $*"
    return 1
}

# Goes through every tab with Ctrl+Tab as a user would, capturing each, and writes
# "<title>|<text>" of each to $OUT/<name>.offered, sorted.
look_through_tabs() {
    local name=$1 count i
    count=$(shown | awk '/^tabs /{print $2}')
    : >"$OUT/$name.offered"
    for i in $(seq 1 "${count:-0}"); do
        sleep 1.5
        capture "$name-tab$i"
        shown | awk -v out="$OUT/$name.offered" '
            /^title / { title = substr($0, 8); sub(/ - Pellix"$/, "", title); sub(/^"/, "", title) }
            /^editor \(shown\)/ { text = $0; sub(/^editor \(shown\)( modified)? "/, "", text)
                                  sub(/"$/, "", text) }
            END { print title "|" text >> out }'
        keys ctrl+Tab
    done
    sort -o "$OUT/$name.offered" "$OUT/$name.offered"
}

# The next start after a kill: answers the box, looks through the tabs, records what it saw.
next_start() {
    local name=$1
    start_program "${@:2}" || return 1
    answer_recover_box "$name"
    sleep 3
    capture "$name"
    shown >"$OUT/$name.txt"
    look_through_tabs "$name"
}

# PASS when $OUT/<name>.offered holds exactly the given "<title>|<text>" lines.
verdict() {
    local name=$1 step=$2
    shift 2
    if [ "$(printf '%s\n' "$@" | sort)" = "$(cat "$OUT/$name.offered")" ]; then
        echo "PASS $step: the start offered what must come back"
        return 0
    fi
    echo "FAIL $step: the start offered"
    sed 's/^/    /' "$OUT/$name.offered"
    echo "  where these must come back:"
    printf '    %s\n' "$@"
    return 1
}

clean_state() {
    rm -rf "$STORE"
    mkdir -p "$STORE"
    wine reg add 'HKCU\Software\Orvelworks\Pellix Native' /v WelcomeShown /t REG_DWORD /d 1 /f \
        >/dev/null 2>&1
}

step_flipped_bit() {
    local shopping="Shopping list: milk, eggs, an intact draft"
    clean_state
    start_program || return 1
    sleep 2
    type_text "Note 1"
    keys ctrl+n
    sleep 1
    type_text "$shopping"
    keys ctrl+n
    sleep 1
    type_text "Note 3"
    stored_with "Note 1" "$shopping" "Note 3" || return 1
    kill_program
    python3 - "$STORE/tabs.bin" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.find(b'Note 1') + 5
data[at] ^= 0x02
open(sys.argv[1], 'wb').write(data)
EOF
    next_start flipped-bit-start
    kill_program
    verdict flipped-bit-start flipped-bit "Untitled.md *|Note 3" "Untitled.md *|$shopping"
}

# Starts the program on 35 saved files of 8,000,000 bytes in $WORK/large and waits for their tabs.
start_on_large_files() {
    local files=$WORK/large args=() count
    mkdir -p "$files"
    python3 - "$files" <<'EOF'
import sys
for n in range(1, 36):
    line = f"File {n:02d}: a line of saved prose in a large file, padded to a steady width.\n"
    body = f"# Large file {n:02d}\n\n" + line * (8_000_000 // len(line))
    open(f"{sys.argv[1]}/large{n:02d}.md", "w").write(body + "x" * (8_000_000 - len(body)))
EOF
    for f in "$files"/*.md; do args+=("$(windows_path "$f")"); done
    start_program "${args[@]}" || return 1
    for _ in $(seq 1 600); do
        count=$(shown | awk '/^tabs /{print $2}')
        [ "$count" = 35 ] && return 0
        sleep 1
    done
    return 1
}

# The next start, its box answered, once it shows at least the given number of tabs.
restored_tabs() {
    local name=$1 want=$2 count
    start_program || return 1
    answer_recover_box "$name"
    for _ in $(seq 1 600); do
        count=$(shown | awk '/^tabs /{print $2}')
        [ "${count:-0}" -ge "$want" ] && break
        sleep 1
    done
    sleep 5
    capture "$name"
    shown >"$OUT/$name.txt"
}

step_large_files() {
    local draft="A draft typed beside 35 large files" count status
    clean_state
    start_on_large_files || return 1
    keys ctrl+n
    sleep 1
    type_text "$draft"
    stored_with "$draft" || return 1
    sleep 2
    capture large-files-draft
    status=$(shown | tee "$OUT/large-files-draft.txt" | grep '^status')
    log "Status with the draft stored: $status"
    kill_program
    restored_tabs large-files-start 36
    count=$(awk '/^tabs /{print $2}' "$OUT/large-files-start.txt")
    kill_program
    rm -rf "$WORK/large"
    if [[ "$status" != *unavailable* ]] && [ "$count" = 36 ] &&
        grep -q "^editor.* modified \"$draft\"$" "$OUT/large-files-start.txt"; then
        echo "PASS large-files: the draft was stored and came back with the 35 files"
        return 0
    fi
    echo "FAIL large-files: $status; $count tabs at the next start; see $OUT/large-files-start.txt"
    return 1
}

step_large_drafts() {
    local status size
    clean_state
    start_on_large_files || return 1
    # A mark typed at the start of each file makes each tab a draft of 8 MB.
    for _ in $(seq 1 35); do
        keys ctrl+Home
        type_text "D"
        keys ctrl+Tab
        sleep 0.5
    done
    for _ in $(seq 1 120); do
        sleep 2
        python3 - "$STORE/tabs.bin" <<'EOF' && break
import sys
data = open(sys.argv[1], 'rb').read()
sys.exit(0 if data.count(b'D# Large file') == 35 else 1)
EOF
    done
    size=$(stat -c %s "$STORE/tabs.bin")
    capture large-drafts-stored
    status=$(shown | tee "$OUT/large-drafts-stored.txt" | grep '^status')
    log "Status with the drafts stored: $status; tabs.bin: $size bytes"
    kill_program
    restored_tabs large-drafts-start 35
    look_through_tabs large-drafts-start
    kill_program
    rm -rf "$WORK/large"
    if [[ "$status" != *unavailable* ]] && [ "$size" -gt 268435456 ] &&
        [ "$(grep -c '^large[0-9]*\.md \*|D# Large file' "$OUT/large-drafts-start.offered")" = 35 ]; then
        echo "PASS large-drafts: $size bytes stored, the 35 drafts came back"
        return 0
    fi
    echo "FAIL large-drafts: $status; $size bytes; see $OUT/large-drafts-start.offered"
    return 1
}

step_full_disk() {
    local files=$WORK/files folder
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP full-disk: mounting the 1 MiB folder needs root"
        return 0
    fi
    clean_state
    mkdir -p "$files"
    printf 'full saved v0' >"$files/full.md"
    # The filler goes beside the recovery folder, on its disk, where the store never looks.
    folder=$(dirname "$STORE")
    mount -t tmpfs -o size=1m tmpfs "$folder"
    mkdir -p "$STORE"
    start_program "$(windows_path "$files/full.md")" || { umount "$folder"; return 1; }
    sleep 3
    keys ctrl+End
    type_text " A-DRAFT-OLD"
    stored_with "full saved v0 A-DRAFT-OLD" || { kill_program; umount "$folder"; return 1; }
    dd if=/dev/zero of="$folder/filler" bs=4k 2>/dev/null || true
    type_text " NEWER"
    keys ctrl+s
    sleep 5
    capture full-disk-saved
    shown >"$OUT/full-disk-saved.txt"
    kill_program
    log "full.md at the next start: $(cat "$files/full.md")"
    next_start full-disk-start
    kill_program
    umount "$folder"
    verdict full-disk-start full-disk "full.md|full saved v0 A-DRAFT-OLD NEWER" \
        "full.md (other version) *|full saved v0 A-DRAFT-OLD"
}

step_unchecked_beside() {
    local release=$WORK/release holder failed=0
    clean_state
    start_program || return 1
    sleep 2
    type_text "X1"
    stored_with "X1" || return 1
    kill_program
    rm -f "$release"
    wine "$TOOLS/file_holder.exe" "$(windows_path "$STORE/tabs.bin")" \
        "$(windows_path "$release")" >"$WORK/holder.log" 2>&1 &
    holder=$!
    for _ in $(seq 1 100); do
        grep -q held "$WORK/holder.log" && break
        sleep 0.1
    done
    start_program || return 1
    sleep 3
    type_text "Y"
    for _ in $(seq 1 $store_wait); do
        grep -q Y "$STORE/tabs.bin.beside" 2>/dev/null && break
        sleep 0.1
    done
    capture unchecked-beside-held
    kill_program
    touch "$release"
    wait "$holder" || true
    # One byte of the run's number in each copy of the stamp.
    python3 - "$STORE/tabs.bin" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
size = struct.unpack_from('<I', data, 8)[0]
data[12 + 1] ^= 0x10
data[len(data) - 12 - size + 1] ^= 0x10
open(sys.argv[1], 'wb').write(data)
EOF
    for start in 1 2; do
        next_start "unchecked-beside-start$start"
        kill_program
        verdict "unchecked-beside-start$start" "unchecked-beside (start $start)" \
            "Untitled.md *|X1" "Untitled.md *|Y" || failed=1
    done
    return $failed
}

run_inside() {
    prepare_wine_prefix
    wineserver -p
    local local_app_data failed=0
    local_app_data=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
    STORE=$(winepath -u "$local_app_data" 2>/dev/null)/Pellix/Native
    STORE=${STORE%/}
    for step in "$@"; do
        log "Step $step"
        "step_${step//-/_}" >"$OUT/$step.log" 2>&1 || failed=1
        grep -E '^(PASS|FAIL|SKIP)|^    |where these' "$OUT/$step.log" || echo "FAIL $step: see $OUT/$step.log"
    done
    wineserver -k || true
    return $failed
}

if [ -n "${PELLIX_INSIDE_DISPLAY:-}" ]; then
    run_inside "$@"
    exit
fi

OUT=$(realpath -m "${1:-$BUILD_DIR/recovery-steps}")
shift || true
steps=("$@")
[ ${#steps[@]} -eq 0 ] && read -ra steps <<<"$all_steps"
for step in "${steps[@]}"; do
    [[ " $all_steps " == *" $step "* ]] || { echo "Unknown step: $step" >&2; exit 2; }
done
PACKAGES="$PACKAGES imagemagick xdotool"
install_packages
[ -n "${PELLIX_NO_BUILD:-}" ] || build_project --target Pellix
TOOLS=$BUILD_DIR/tools
mkdir -p "$TOOLS" "$OUT"
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -o "$TOOLS/tab_reader.exe" \
    "$ROOT/scripts/tools/tab_reader.cpp" -lcomctl32
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -municode -o "$TOOLS/file_holder.exe" \
    "$ROOT/scripts/tools/file_holder.cpp"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export OUT TOOLS WORK BUILD_DIR
PELLIX_INSIDE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "${steps[@]}"
