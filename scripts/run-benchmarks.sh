#!/usr/bin/env bash
# Runs every benchmark program of a build (bin/bench_*) one after another; each prints its own
# figures against a reference run. Programs that need a display get a virtual one.
set -uo pipefail
build=${1:-build}
status=0
for program in "$build"/bin/bench_*; do
    [ -x "$program" ] || continue
    echo "=== $(basename "$program")"
    if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
        xvfb-run -a -s "-screen 0 1280x1024x24" "$program" || status=1
    else
        "$program" || status=1
    fi
    echo
done
exit $status
