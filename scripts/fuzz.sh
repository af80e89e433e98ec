#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while: the
# seconds given as the first argument (300 by default) are shared evenly
# among the targets, so a new target does not make the step longer. A
# crash fails the run; its input is left in build/fuzz/artifacts/ to be
# kept as a regression file under tests/. A target's seeds are the files
# of tests/fuzz/corpus/<target>/, links to other corpora followed. Ends
# with "fuzz targets: N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_ALL=${1:-300}
JOBS=$(nproc 2>/dev/null || echo 2)

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKLF_BUILD_TESTS=OFF -DKLF_BUILD_FUZZ=ON > /dev/null
# Only the fuzz targets: the rest of the tree is not built for fuzzing.
targets=()
for src in tests/fuzz/fuzz_*.cpp; do
  [ -e "$src" ] && targets+=(--target "$(basename "$src" .cpp)")
done
[ ${#targets[@]} -gt 0 ] || exit 0
cmake --build build/fuzz -j "$JOBS" "${targets[@]}"
SECONDS_EACH=$((SECONDS_ALL / (${#targets[@]} / 2)))
[ "$SECONDS_EACH" -gt 0 ] || SECONDS_EACH=1

mkdir -p build/fuzz/artifacts
passed=0
failed=0
for src in tests/fuzz/fuzz_*.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  seeds=tests/fuzz/corpus/$name
  [ -d "$seeds" ] && cp -rL "$seeds"/. "$work"/ 2>/dev/null || true
  echo "== $name (${SECONDS_EACH}s)"
  if ! ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "build/fuzz/fuzz/$name" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-" "$work" 2>&1 | tail -n 12; then
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done
echo "fuzz targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
