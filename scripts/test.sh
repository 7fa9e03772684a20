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
    (cd "$BUILD_DIR/native" && ctest --output-on-failure -j"$BUILD_JOBS" "$@") || status=1
    # A filtered run skips the fuzz targets.
    if [ $# -eq 0 ]; then
        bash "$ROOT/scripts/fuzz.sh" 5 || status=1
    fi
fi
prepare_wine_prefix
cd "$BUILD_DIR"
in_wine_session ctest --output-on-failure "$@" || status=1
exit $status
