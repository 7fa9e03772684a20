#!/usr/bin/env bash
# Runs the Wine test programs again and again, each run of each program in a brand-new Wine
# prefix prepared as the test command prepares one and with an empty cache folder (so Mesa's
# shader cache is empty too, as on a brand-new machine), and prints each failing test with how
# often it failed. A test that fails here only now and then is a fault to mend.
#
#   bash scripts/repeat_tests.sh [-n runs] [-j side-by-side] [--load] [program ...]
#
# Programs are named as CTest names them (editor_tests, app_tests, ...); none names them all.
# -n sets how many runs of each (default 20); -j how many runs go side by side, each with its own
# prefix, wineserver and virtual display (default 1); --load keeps every core but one busy for
# the whole time, as on a loaded machine. GTEST_FILTER narrows the cases as it does for one program.
# Logs stay in $BUILD_DIR/repeat/.
source "$(dirname "$0")/common.sh"

runs=20
side_by_side=1
load=false
programs=()
while [ $# -gt 0 ]; do
    case "$1" in
    -n) runs=$2; shift 2 ;;
    -j) side_by_side=$2; shift 2 ;;
    --load) load=true; shift ;;
    -*) echo "Unknown option $1" >&2; exit 2 ;;
    *) programs+=("$1"); shift ;;
    esac
done

install_packages
build_project >/dev/null
if [ ${#programs[@]} -eq 0 ]; then
    mapfile -t programs < <(cd "$BUILD_DIR" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p')
fi
out=$BUILD_DIR/repeat
rm -rf "$out"
mkdir -p "$out"

busy=()
stop_load() {
    if [ ${#busy[@]} -gt 0 ]; then
        kill "${busy[@]}" 2>/dev/null || true
    fi
}
trap stop_load EXIT
if $load; then
    for ((core = 1; core < $(nproc); ++core)); do
        (while :; do :; done) &
        busy+=($!)
        # Out of the job table, so that the wait for a free place below waits for runs only.
        disown $!
    done
fi

# One run of one program in its own prefix and cache folder; the log keeps what it printed and
# the last line its exit status. The prefix goes once the run has ended.
run_once() {
    local program=$1 run=$2 job=$3
    local place=$out/$program-$run
    mkdir -p "$place/cache"
    local log=$place.log
    (
        export WINEPREFIX=$place/wine XDG_CACHE_HOME=$place/cache
        # Side-by-side runs look for a free display number each from a number of its own.
        export PELLIX_FIRST_DISPLAY=$((300 + job))
        if ! prepare_wine_prefix >"$log" 2>&1; then
            echo "prefix preparation failed" >>"$log"
            exit 0
        fi
        cd "$BUILD_DIR"
        status=0
        in_wine_session timeout 900 bash "$ROOT/scripts/run_wine_test.sh" "$BUILD_DIR/$program.exe" >>"$log" 2>&1 || status=$?
        echo "exit status $status" >>"$log"
    ) || echo "run ended early: status $?" >>"$log"
    rm -rf "$place"
}

echo "${#programs[@]} programs x $runs runs, $side_by_side side by side, load: $load"
start=$SECONDS
job=0
for ((run = 1; run <= runs; ++run)); do
    for program in "${programs[@]}"; do
        if [ "$(jobs -rp | wc -l)" -ge "$side_by_side" ]; then
            wait -n || true
        fi
        run_once "$program" "$run" $((job++)) &
    done
done
wait
stop_load

# A failing case is counted once per run (gtest prints its name again in the summary); a
# program that ended otherwise than by its tests' verdict (a crash, a hang) is listed by name.
failures=$(
    for log in "$out"/*.log; do
        program=$(basename "$log" .log)
        program=${program%-*}
        tr -d '\r' <"$log" | sed -n 's/^\[  FAILED  \] \([^ ]*\) ([0-9]* ms)$/\1/p' | sort -u
        if ! grep -q '^exit status 0$' "$log" && ! grep -q '^\[  FAILED  \]' "$log"; then
            echo "$program ($(tail -n 1 "$log"))"
        fi
        # A program a test started may crash without failing the test that started it.
        if grep -q '^wine: Unhandled' "$log"; then
            echo "$program (a program crashed: $(grep -m 1 '^wine: Unhandled' "$log"))"
        fi
    done | sort | uniq -c | sort -rn
)
# grep answers 1 when nothing matches, which under pipefail would end the script here.
failed_runs=$( (grep -L '^exit status 0$' "$out"/*.log || true; grep -l '^wine: Unhandled' "$out"/*.log || true) |
    sort -u | wc -l)
echo "$((runs * ${#programs[@]})) runs in $((SECONDS - start)) s, $failed_runs failed"
# Runs that passed although Wine killed the program as it exited (the run script takes such a
# kill as a pass only on a whole report) are counted, not hidden.
killed_passes=$( (grep -l '^Wine killed .* taken as a pass\.$' "$out"/*.log || true) | wc -l)
if [ "$killed_passes" -gt 0 ]; then
    echo "$killed_passes of them passed though Wine killed the program as it exited"
fi
if [ -n "$failures" ]; then
    echo "Failing tests (how many runs):"
    echo "$failures"
    exit 1
fi
