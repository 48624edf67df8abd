#!/usr/bin/env bash
# Builds in Release and runs the benchmark offscreen and under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BENCH=ON -DQUILLON_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
echo "Kernel $(uname -r); $(nproc) cores; $(date -u +%Y-%m-%d)"
echo
echo "### offscreen"
# The offscreen plugin warns about window size hints on every window; that says nothing here.
QT_QPA_PLATFORM=offscreen "$build/bench/bench_quillon" 2> >(grep -v propagateSizeHints >&2)
echo
echo "### quillon-cli"
"$build/bench/bench_cli"
echo
echo "### quillon-cli in the test VM"
scripts/run-vm-tests.sh "$build" bench
echo
echo "### Xvfb"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" "$build/bench/bench_quillon"
