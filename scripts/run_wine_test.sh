#!/usr/bin/env bash
# Runs one Windows test program under Wine and answers its verdict: how CTest and the repeat
# script start every test program.
#
# Once a process's last thread has ended, Wine's server gives it under a second to finish the
# Linux side of exiting (the graphics drivers' tear-down among it) and then kills it. A loaded
# machine can take longer, and a program whose every test passed then ends with status 137. Such
# a kill is taken as the verdict the program had already written: its XML report, which Google
# Test writes after the last test, with no failure and no error. Any other end, a kill before
# that report among them, keeps its status.
set -uo pipefail
program=$1
shift
report=$(mktemp --suffix=.xml)
trap 'rm -f "$report"' EXIT
status=0
GTEST_OUTPUT="xml:$(winepath -w "$report")" wine "$program" "$@" || status=$?
if [ $status -eq 137 ] && grep -q '<testsuites [^>]*failures="0"[^>]*errors="0"' "$report"; then
    echo "Wine killed the program while it exited after every test had passed."
    status=0
fi
exit $status
