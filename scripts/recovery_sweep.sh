#!/usr/bin/env bash
# Sweeps seeds of the recovery harness for a given time on every core (or JOBS of them), with an
# optimised native build in $BUILD_DIR/sweep. Usage: recovery_sweep.sh [minutes] [first seed].
# Prints each failing seed with its shrunk sequence, then the seeds covered; exits 1 on a failure.
source "$(dirname "$0")/common.sh"
minutes=${1:-30}
first=${2:-1}
jobs=${JOBS:-$(nproc)}
sweep_dir=$BUILD_DIR/sweep
cmake -S "$ROOT/tests/native" -B "$sweep_dir" -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DPELLIX_NATIVE_SANITIZERS=OFF >/dev/null
cmake --build "$sweep_dir" -j"$jobs" --target native_tracking_tests >/dev/null
program=$sweep_dir/native_tracking_tests
log_dir=$sweep_dir/seeds
rm -rf "$log_dir"
mkdir -p "$log_dir"
deadline=$(($(date +%s) + minutes * 60))

# Worker `lane` runs seeds first+lane, first+lane+jobs, ... until the deadline; a seed begun
# before it runs to its end.
sweep_lane() {
    local lane=$1 seed=$((first + $1))
    while [ "$(date +%s)" -lt "$deadline" ]; do
        if PELLIX_RECOVERY_SEED=$seed "$program" \
            --gtest_filter='RecoveryPolicy.SeededRandomSequencesKeepThePromise' \
            >"$log_dir/$seed.log" 2>&1; then
            echo "$seed" >>"$log_dir/passed.$lane"
            rm -f "$log_dir/$seed.log"
        else
            echo "$seed" >>"$log_dir/failed.$lane"
        fi
        seed=$((seed + jobs))
    done
}

for lane in $(seq 0 $((jobs - 1))); do
    sweep_lane "$lane" &
done
wait

passed=$(cat "$log_dir"/passed.* 2>/dev/null | sort -n || true)
failed=$(cat "$log_dir"/failed.* 2>/dev/null | sort -n || true)
for seed in $failed; do
    echo "seed $seed failed:"
    grep -A1 'shrunk' "$log_dir/$seed.log" || tail -5 "$log_dir/$seed.log"
done
all=$(printf '%s\n%s\n' "$passed" "$failed" | grep . | sort -n || true)
echo "Seeds covered: $(printf '%s\n' "$all" | grep -c . || true)" \
    "($(printf '%s\n' "$all" | sed -n '1p;$p' | paste -sd- -))," \
    "failed: $(printf '%s\n' "$failed" | grep -c . || true)"
[ -z "$failed" ]
