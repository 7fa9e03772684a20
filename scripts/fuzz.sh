#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) natively and runs each of them for the given number
# of seconds (default 10), side by side. Each target keeps its corpus and any failing input in
# $BUILD_DIR/native/fuzz/<target>/, so a later run goes on from what an earlier one found.
source "$(dirname "$0")/common.sh"
seconds=${1:-10}
install_packages
build_native

# Seeds: a few well-formed inputs per target, written fresh on every run.
write_seeds() {
    local seeds=$1/seeds
    rm -rf "$seeds"
    mkdir -p "$seeds"
    case $2 in
    document_decoding)
        # The first byte is the encoding request.
        printf '\x00# Title\r\nline\r\n' >"$seeds/utf8"
        printf '\x00\xEF\xBB\xBFcaf\xC3\xA9 \xF0\x9F\x98\x80\nnext\rlast' >"$seeds/utf8_bom"
        printf '\x00\xFF\xFEh\x00i\x00\r\x00\n\x00=\xD8\x00\xDE' >"$seeds/utf16_le"
        printf '\x00\xFE\xFF\x00h\x00i\x00\r' >"$seeds/utf16_be"
        printf '\x04caf\xE9\r\n\x80\x9F' >"$seeds/windows_1252"
        printf '\x07\xB0\xB1\xB2\n\xDB' >"$seeds/oem_437"
        ;;
    markdown_preview)
        # The first byte holds the flags: 1 dark colours, 2 plain-text page.
        { printf '\x00'; cat "$ROOT/resources/sample.md"; } >"$seeds/sample"
        {
            printf '\x01'
            cat <<'EOF'
Setext heading
==============

1. one
   - nested *em* and **strong** and ~~gone~~
     > quoted `code` <b>html</b> &amp; &#35; \* escaped
2) [ref][r] <https://example.com/a?b=1&c=2> ![image](i.png "t")

    indented code

***
[r]: https://example.com "title"
EOF
        } >"$seeds/markdown"
        printf '\x02plain <text> & "quotes"\n\ttabbed\n' >"$seeds/plain_text"
        ;;
    recovery_readers)
        # One record (draft, CRLF, a path and a text), and a container of it and an empty
        # untitled record.
        local record='PELLIX2\n\x00\x01\x01\x07\x00\x00\x00\x0b\x00\x00\x00C:\\a.mdHello\nworld'
        local empty='PELLIX2\n\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
        printf "$record" >"$seeds/session.bin"
        printf "PLXTABS1\\x02\\x00\\x00\\x00\\x01\\x00\\x00\\x00\\x25\\x00\\x00\\x00$record\\x13\\x00\\x00\\x00$empty" \
            >"$seeds/tabs.bin"
        # The container followed by a store's stamp: run 1, store 2, one fingerprint, one run
        # taken over, the stamp's size and its magic.
        {
            cat "$seeds/tabs.bin"
            printf '\x01\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00'
            printf '\x01\x00\x00\x00\x33\x33\x33\x33\x33\x33\x33\x33\x01\x00\x00\x00'
            printf '\x07\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00'
            printf '\x3c\x00\x00\x00PLXSTMP1'
        } >"$seeds/stamped"
        # The same container after eight bytes that the target writes over its count and active
        # index (here 5 and 7, both impossible).
        { printf '\x05\x00\x00\x00\x07\x00\x00\x00'; cat "$seeds/tabs.bin"; } \
            >"$seeds/damaged_header"
        ;;
    esac
}

status=0
pids=()
names=()
for program in "$BUILD_DIR"/native/fuzz_*; do
    name=${program##*/fuzz_}
    folder=$BUILD_DIR/native/fuzz/$name
    mkdir -p "$folder/corpus"
    write_seeds "$folder" "$name"
    # A single input taking more than 10 s counts as a hang.
    options=(-max_total_time="$seconds" -timeout=10 -artifact_prefix="$folder/")
    dictionary=$ROOT/tests/fuzz/$name.dict
    [ -f "$dictionary" ] && options+=(-dict="$dictionary")
    "$program" "${options[@]}" "$folder/corpus" "$folder/seeds" >"$folder/log" 2>&1 &
    pids+=($!)
    names+=("$name")
done
for i in "${!pids[@]}"; do
    folder=$BUILD_DIR/native/fuzz/${names[$i]}
    if wait "${pids[$i]}"; then
        echo "fuzz_${names[$i]}: $(grep -o 'Done [0-9]* runs' "$folder/log" | tail -1), no fault"
    else
        status=1
        echo "fuzz_${names[$i]}: FAULT; rerun the kept input (crash-*, timeout-*, oom-* in" \
            "$folder/) with $BUILD_DIR/native/fuzz_${names[$i]} <input>"
        tail -n 60 "$folder/log"
    fi
done
exit $status
