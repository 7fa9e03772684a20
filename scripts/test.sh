#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test program under Wine on a virtual display.
source "$(dirname "$0")/common.sh"
install_packages
# PELLIX_TARGET builds one target only (for example core_tests) instead of everything.
build_project ${PELLIX_TARGET:+--target "$PELLIX_TARGET"}
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
    exit $status' ctest-run "$@"
