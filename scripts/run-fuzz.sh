#!/usr/bin/env bash
# Builds every fuzz target (fuzz/, clang with libFuzzer) and runs each for SECONDS.
#   scripts/run-fuzz.sh SECONDS [BUILD_DIR]
# Each target starts from its seeds in fuzz/corpus/<target>/; what it learns goes to a corpus
# folder under the build folder, a crashing input to BUILD_DIR/crashes/. Fails on the first
# target that finds a fault.
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
while read -r target; do
    [ -n "$target" ] || continue
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    echo "== $target: $seconds s"
    "$build/$target" "$corpus" "$root/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$build/crashes/$target-" -print_final_stats=1 2>"$build/$target.log" ||
        { tail -n 60 "$build/$target.log"; echo "$target found a fault" >&2; exit 1; }
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$build/$target.log" || true
done <"$build/fuzz-targets.txt"
