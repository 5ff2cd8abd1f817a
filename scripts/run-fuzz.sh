#!/usr/bin/env bash
# Builds every fuzz target (fuzz/, clang with libFuzzer) and runs each for SECONDS.
#   scripts/run-fuzz.sh SECONDS [BUILD_DIR]
# Each target starts from its seeds in fuzz/corpus/<target>/; what it learns goes to a corpus
# folder under the build folder, a crashing input to BUILD_DIR/crashes/. FUZZ_PARALLEL
# targets (one per core) run at a time; fails when any of them finds a fault.
set -euo pipefail

seconds=${1:?usage: run-fuzz.sh SECONDS [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/fuzz}
compiler=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}"

mkdir -p "$build/crashes"
# One target per core at a time: each is a single process.
parallel=${FUZZ_PARALLEL:-$(nproc)}

run_target() {
    local target=$1 corpus="$build/corpus/$1"
    mkdir -p "$corpus"
    if ! "$build/$target" "$corpus" "$root/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$build/crashes/$target-" -print_final_stats=1 2>"$build/$target.log"; then
        tail -n 60 "$build/$target.log"
        echo "$target found a fault" >&2
        return 1
    fi
    echo "== $target: $seconds s"
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$build/$target.log" || true
}

pids=()
failed=0
while read -r target; do
    [ -n "$target" ] || continue
    run_target "$target" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$parallel" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done <"$build/fuzz-targets.txt"
for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
done
exit $failed
