#!/usr/bin/env bash
# Installs what is missing, builds, runs the pure units' tests natively under AddressSanitizer
# and UndefinedBehaviorSanitizer and the fuzz targets briefly, then every test program under
# Wine on a virtual display. Fails when any of these fails.
source "$(dirname "$0")/common.sh"
install_packages
# PELLIX_TARGET builds one target only (for example core_tests) instead of everything, and
# skips the native run.
build_project ${PELLIX_TARGET:+--target "$PELLIX_TARGET"}
status=0
if [ -z "${PELLIX_TARGET:-}" ]; then
    build_native
    # Arguments filter the native tests as they do the Wine run (native_<folder>_tests).
    (cd "$BUILD_DIR/native" && ctest --output-on-failure -j"$(nproc)" "$@") || status=1
    # A filtered run skips the fuzz targets.
    if [ $# -eq 0 ]; then
        bash "$ROOT/scripts/fuzz.sh" 5 || status=1
    fi
fi
prepare_wine_prefix
cd "$BUILD_DIR"
# One persistent wineserver for the whole run makes each Wine start cost milliseconds.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    wineserver -p
    # Start the Wine services now, detached from ctest'"'"'s output pipes: started by the first test
    # they would inherit its pipe and ctest would wait for them forever.
    wineboot >/dev/null 2>&1 </dev/null
    status=0
    ctest --output-on-failure "$@" || status=$?
    wineserver -k || true
    exit $status' ctest-run "$@" || status=1
exit $status
