#!/usr/bin/env bash
# The main job end to end and in process: the host program reads a
# 6000 x 4000 photograph (PNG), the plug-in cuts it 30 x 20 with the default
# knobs, bevels every piece and writes it back, and the program writes the
# puzzle as PNG; on one thread and on all cores, runs alternated. Prints
# wall time, CPU time (user + system) and peak memory of each run, checks
# that every run wrote the same bytes, then runs the in-process replay
# benchmark (ReplayBench) on one thread and on all.
# The job runs on the synthetic photograph (the sample picture enlarged,
# with grain) and on a real one: PHOTO when given, else an upscaled
# skimage sample photo made by bench/photo/make_photos.sh when the photos
# and vips are installed (python3-skimage, libvips-tools).
#
# Usage: bash bench/whole_job.sh [RUNS] [BUILD_DIR] [PHOTO]   (defaults: 3, build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-3}
B=${2:-build-bench}
CORES=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$B" -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=OFF -DKLF_BUILD_BENCH=ON > /dev/null
cmake --build "$B" -j 3 --target tessarette-host tessarette_plugin make_photo ReplayBench > /dev/null

SYNTHETIC="$B/bench/photo-6000x4000.png"
[ -f "$SYNTHETIC" ] || "$B/bench/make_photo" tools/sample/lake.png "$SYNTHETIC" 6000 4000
REAL=${3:-}
if [ -z "$REAL" ]; then
  REAL=$(bash bench/photo/make_photos.sh "$B/bench/photos" | grep astronaut || true)
fi
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

for PHOTO in "$SYNTHETIC" $REAL; do
  echo "whole job: $PHOTO -> PNG, 30 x 20 pieces, $RUNS runs each, $CORES cores"
  for run in $(seq "$RUNS"); do
    for t in 1 "$CORES"; do
      /usr/bin/time -f "%e %U %S %M" -o "$OUT/time" \
        "$B/tools/tessarette-host" -q --threads "$t" --grid 30x20 "$PHOTO" -o "$OUT/puzzle-$t.png" > /dev/null 2>&1
      read -r wall user sys peak < "$OUT/time"
      awk -v t="$t" -v r="$run" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" 'BEGIN {
        printf "  threads %3d run %d: wall %6.2f s  cpu %6.2f s  peak %5.0f MiB\n", t, r, w, u + s, p / 1024 }'
    done
    cmp -s "$OUT/puzzle-1.png" "$OUT/puzzle-$CORES.png" || { echo "  the outputs differ"; exit 1; }
  done
  echo "  outputs identical ($(stat -c %s "$OUT/puzzle-1.png") bytes)"
done

echo "in-process replay (ReplayBench; CPU time is the calling thread's):"
"$B/bench/ReplayBench" --benchmark_filter=ReplayPuzzle --benchmark_repetitions="$RUNS" 2> /dev/null |
  grep -E '^BM_' | grep -vE '_(mean|median|stddev|cv) '
