#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: [JOBS=N] scripts/run-fuzzers.sh SECONDS_PER_TARGET
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build-fuzz
corpus_dir=../shared/edid-corpus

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLON_FUZZ=ON -DQUILLON_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"

# Working corpora start from the seeds; what a run finds is kept in build-fuzz/ only.
mkdir -p "$build/corpus/raw" "$build/corpus/xml" "$build/corpus/text"
if [ -d "$corpus_dir" ]; then
    cp -n "$corpus_dir"/*.bin "$build/corpus/raw/" 2>/dev/null || true
fi
cp -n src/iow/virtual/sample-edid.bin "$build/corpus/raw/"
cp -n fuzz/seeds/xml/*.xml "$build/corpus/xml/"
for f in fuzz/seeds/xml/*.xml; do
    sed -n 's:.*<BLOCK0>\(.*\)</BLOCK0>.*:\1:p' "$f" > "$build/corpus/text/$(basename "$f").txt"
done

run() {
    local target=$1 corpus=$2
    local log="$build/$target.log" rc=0
    echo "== $target: ${seconds}s"
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/$target-" "$build/corpus/$corpus" >"$log" 2>&1 || rc=$?
    grep -E "^(#[0-9]+ +DONE|==[0-9]+==|stat::number_of_executed_units|SUMMARY|ERROR)" "$log" || true
    [ $rc -eq 0 ] || tail -n 40 "$log"
    return $rc
}

status=0
run fuzz_raw_reader raw || status=1
run fuzz_xml_reader xml || status=1
run fuzz_block_text text || status=1
if [ $status -ne 0 ]; then
    echo "A fuzzer found a failing input: see $build/*-crash-* and *-timeout-*" >&2
fi
exit $status
