#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test, runs the threaded suites
# under ThreadSanitizer, builds the tests and benchmarks in Release and runs
# every test there once more, then checks that the fuzz targets still build
# and runs each for a short while. Ends with one line: "N passed, N failed",
# counting the layer check, the tests of both builds, the ThreadSanitizer
# suites and the fuzz targets.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

JOBS=$(nproc 2>/dev/null || echo 2)
# Seconds since the start at each step, for keeping CI's time in view.
step() { echo "== ${SECONDS} s: $1"; }
passed=0
failed=0
# Adds a ctest log's counts ("100% tests passed, 0 tests failed out of 245");
# a log without that line counts as one failure.
count_ctest() {
  local summary total bad
  summary=$(grep -E 'tests failed out of [0-9]+' "$1" | tail -n 1)
  if [ -n "$summary" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
}

# No include runs back up between the folders (also a ctest).
if bash scripts/check_layers.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

step "sanitizer build and tests"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p build
if cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLF_SANITIZE=ON &&
   cmake --build build/asan -j "$JOBS"; then
  (cd build/asan && ctest --output-on-failure -j "$JOBS" --timeout 600) | tee build/ctest.log
  count_ctest build/ctest.log
else
  echo "the sanitizer build failed"
  failed=$((failed + 1))
fi

step "ThreadSanitizer suites"
# The suites whose work runs on several threads, under ThreadSanitizer.
tsan_suites="test_foundation test_imaging test_engine test_host test_tools test_cutter test_app test_platform"
if cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS=-fsanitize=thread \
     -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
     -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
     "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" &&
   cmake --build build/tsan -j "$JOBS" --target $tsan_suites tessarette-host tessarette_plugin klt_test_plugin; then
  for suite in $tsan_suites; do
    if TSAN_OPTIONS=halt_on_error=1 "build/tsan/tests/$suite" --gtest_brief=1 > "build/tsan-$suite.log" 2>&1; then
      echo "ThreadSanitizer: $suite passed"
      passed=$((passed + 1))
    else
      tail -n 40 "build/tsan-$suite.log"
      echo "ThreadSanitizer: $suite failed"
      failed=$((failed + 1))
    fi
  done
else
  echo "the ThreadSanitizer build failed"
  failed=$((failed + 1))
fi

step "Release build (tests and benchmarks) and tests"
# The whole suite once more without sanitizers, optimised as users run it:
# a test that leans on the sanitizer's fill of fresh memory or on
# unoptimised code fails here.
if cmake -S . -B build/release-tests -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=ON -DKLF_BUILD_BENCH=ON &&
   cmake --build build/release-tests -j "$JOBS"; then
  (cd build/release-tests && ctest --output-on-failure -j "$JOBS" --timeout 600) | tee build/ctest-release.log
  count_ctest build/ctest-release.log
else
  echo "the Release build failed"
  failed=$((failed + 1))
fi

step "fuzz targets"
if [ -f tests/fuzz/CMakeLists.txt ]; then
  # The seconds of fuzzing, shared among the targets: with an eleventh
  # target's build, no longer than ten targets of 30 s each took.
  bash scripts/fuzz.sh 290 | tee build/fuzz.log
  # "fuzz targets: 7 passed, 0 failed"
  line=$(grep -E '^fuzz targets: [0-9]+ passed, [0-9]+ failed' build/fuzz.log | tail -n 1)
  if [ -n "$line" ]; then
    passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
  else
    failed=$((failed + 1))
  fi
fi

step "done"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
