#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while: the
# seconds given as the first argument (300 by default) are shared evenly
# among the targets, so a new target does not make the step longer; half
# the cores run targets side by side. A
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

mkdir -p build/fuzz/artifacts build/fuzz/logs
# A target runs on one core: half the cores run targets side by side, each
# for its whole share, and the logs are printed in order once all are done.
PARALLEL=$((JOBS / 2))
[ "$PARALLEL" -gt 0 ] || PARALLEL=1
run_target() {  # NAME
  local name=$1 work=build/fuzz/corpus/$1 seeds=tests/fuzz/corpus/$1
  mkdir -p "$work"
  [ -d "$seeds" ] && cp -rL "$seeds"/. "$work"/ 2>/dev/null || true
  if ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "build/fuzz/fuzz/$name" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-" "$work" \
      > "build/fuzz/logs/$name.log" 2>&1; then
    echo passed > "build/fuzz/logs/$name.result"
  else
    echo failed > "build/fuzz/logs/$name.result"
  fi
}
names=()
for src in tests/fuzz/fuzz_*.cpp; do
  [ -e "$src" ] || continue
  names+=("$(basename "$src" .cpp)")
done
rm -f build/fuzz/logs/*.result
running=0
for name in "${names[@]}"; do
  if [ "$running" -ge "$PARALLEL" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
wait || true
passed=0
failed=0
for name in "${names[@]}"; do
  echo "== $name (${SECONDS_EACH}s)"
  tail -n 12 "build/fuzz/logs/$name.log"
  if [ "$(cat "build/fuzz/logs/$name.result" 2> /dev/null)" = passed ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "fuzz targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
