#!/usr/bin/env bash
# Builds and runs the benchmark program; it prints figures and judges nothing.
source "$(dirname "$0")/common.sh"
install_packages
# Some figures are of the real program, started from the build folder.
build_project --target pellix_bench --target Pellix
prepare_wine_prefix
cd "$BUILD_DIR"
xvfb-run -a -s "-screen 0 1280x1024x24" wine "$BUILD_DIR/pellix_bench.exe" "$@"
