#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test, then checks that the
# benchmarks (Release) and the fuzz targets still build, and runs each fuzz
# target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLF_SANITIZE=ON
cmake --build build/asan -j "$JOBS"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd build/asan && ctest --output-on-failure -j "$JOBS" --timeout 600)

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=OFF -DKLF_BUILD_BENCH=ON
cmake --build build/bench -j "$JOBS"

if [ -f tests/fuzz/CMakeLists.txt ]; then
  bash scripts/fuzz.sh 30
fi
