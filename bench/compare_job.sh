#!/usr/bin/env bash
# The whole job of this working tree against other commits', in
# interleaved rounds: the host program reads a photograph (PNG or JPEG),
# the plug-in cuts it, bevels every piece and writes it back, the program
# writes the puzzle as PNG. Each commit's tree is exported beside the
# working tree (git archive into build/compare/) and built in Release (host
# program and plug-in alone). After one unmeasured run of each, every round
# runs each commit and the tree once, the order turned by one each round
# (so each takes every place equally often), optionally then `vips copy` of
# the photo into a .v file (the read a PNG costs vips).
#
# Each run is timed by bench/timed_run.c: wall time on the monotonic clock
# (to the microsecond; printed to the millisecond), CPU time (user +
# system), peak resident memory, minor page faults, the read, plug-in and
# write steps (--timings, to the millisecond), and the share of the cores'
# time the rest of the machine took meanwhile. Printed for each job: the
# load average before and after its rounds, the others' busy share over
# its runs, each one's median with its range, and for each commit the
# tree's value over the commit's taken round by round: the median of those
# ratios, their range and how many rounds were above 1. A vs A (HEAD
# against a clean tree) shows what the script can resolve.
# Every output of every run, at every thread count, must have the same
# bytes.
#
# Usage: bash bench/compare_job.sh [options] COMMIT... -- PHOTO[:GRID]...
#        bash bench/compare_job.sh [options] COMMIT PHOTO[:GRID]...
#   -r RUNS      rounds (default 5)
#   -t LIST      thread counts, comma separated (default: the machine's;
#                0 is the program's default)
#   -g GRID      grid of photos given without one (default 30x20)
#   -v           also time `vips copy PHOTO x.v` in each round
#   -j N         build jobs (default 4)
#   -b COMMIT    the tree measured against the commits is that commit's,
#                not the working tree
#   -e VAR=VALUE the environment of the tree's runs (the commits' with -E),
#                e.g. LD_PRELOAD
#   -c CPUS      run the jobs on these cores only (taskset -c CPUS)
# The photos: bench/photo/make_photos.sh -q 90 OUT_DIR [W H] makes real
# ones, PNG and JPEG.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=5 THREADS=0 GRID=30x20 VIPS=0 JOBS=4 OTHER="" CPUS="" ENV_A=() ENV_B=()
while getopts "r:t:g:vj:b:e:E:c:" opt; do
  case $opt in
    r) RUNS=$OPTARG ;;
    t) THREADS=$OPTARG ;;
    g) GRID=$OPTARG ;;
    v) VIPS=1 ;;
    j) JOBS=$OPTARG ;;
    b) OTHER=$OPTARG ;;
    e) ENV_B+=("$OPTARG") ;;
    E) ENV_A+=("$OPTARG") ;;
    c) CPUS=$OPTARG ;;
    *) exit 64 ;;
  esac
done
shift $((OPTIND - 1))
USAGE="usage: compare_job.sh [options] COMMIT... -- PHOTO[:GRID]..."
COMMITS=()
if [[ " $* " == *" -- "* ]]; then
  while [ "$1" != -- ]; do COMMITS+=("$1"); shift; done
  shift
else
  COMMITS=("${1:?$USAGE}")
  shift
fi
[ ${#COMMITS[@]} -gt 0 ] || { echo "compare_job: no commit given" >&2; exit 64; }
[ $# -gt 0 ] || { echo "compare_job: no photo given" >&2; exit 64; }
ROOT=build/compare
LAUNCH=()
command -v ccache > /dev/null && LAUNCH=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
mkdir -p "$ROOT"
TIMED="$ROOT/timed_run"
if [ ! -x "$TIMED" ] || [ bench/timed_run.c -nt "$TIMED" ]; then
  "${CC:-cc}" -O2 -Wall -o "$TIMED" bench/timed_run.c
fi
PIN=()
[ -z "$CPUS" ] || PIN=(taskset -c "$CPUS")

# Release build of the host program and the plug-in from source dir $1
# into $2; the compiler's output is shown only when the build fails.
build() {
  mkdir -p "$2"
  { cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=OFF -DKLF_BUILD_BENCH=OFF "${LAUNCH[@]}" &&
    cmake --build "$2" -j "$JOBS" --target tessarette-host tessarette_plugin; } > "$2/compare-build.log" 2>&1 ||
    { cat "$2/compare-build.log" >&2; echo "compare_job: building $1 failed" >&2; exit 1; }
}
# The tree of a commit, exported once and built; sets HOST.
build_commit() {
  if [ ! -f "$ROOT/src-$1/CMakeLists.txt" ]; then
    rm -rf "$ROOT/src-$1"
    mkdir -p "$ROOT/src-$1"
    git archive "$1" | tar -x -C "$ROOT/src-$1"
  fi
  build "$ROOT/src-$1" "$ROOT/build-$1"
  HOST="$ROOT/build-$1/tools/tessarette-host"
}

# Contestants 0 .. N-1 are the commits, N the tree they are measured against.
NAMES=() HOSTS=()
for c in "${COMMITS[@]}"; do
  sha=$(git rev-parse --short "$c^{commit}")
  build_commit "$sha"
  NAMES+=("$sha") HOSTS+=("$HOST")
done
N=${#NAMES[@]}
if [ -n "$OTHER" ]; then
  sha=$(git rev-parse --short "$OTHER^{commit}")
  build_commit "$sha"
  NAMES+=("$sha") HOSTS+=("$HOST")
  TREE="$sha"
else
  build . "$ROOT/build-work"
  NAMES+=(tree) HOSTS+=("$ROOT/build-work/tools/tessarette-host")
  TREE="the working tree ($(git rev-parse --short HEAD)$(git diff --quiet HEAD || echo ' with changes'))"
fi
echo "built ${NAMES[*]:0:N} and, as ${NAMES[N]}, $TREE"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

# One run appended to $OUT/d<who>: wall-ms cpu-s peak-KiB faults read
# plug-in write others-all others-own.
run() {  # who threads grid photo output
  local args=(-q --timings --grid "$3" "$4" -o "$5") env=("${ENV_A[@]}") step
  [ "$1" -lt "$N" ] || env=("${ENV_B[@]}")
  [ "$2" = 0 ] || args=(--threads "$2" "${args[@]}")
  env "${env[@]}" "${PIN[@]}" "$TIMED" "$OUT/time" "${HOSTS[$1]}" "${args[@]}" > /dev/null 2> "$OUT/log" ||
    { cat "$OUT/log" >&2; exit 1; }
  read -r wall user sys peak faults others own < "$OUT/time"
  {
    printf "%s %s %s %s" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$peak" "$faults"
    for step in read plug-in write; do
      printf " %s" "$(awk -v s="$step" '$2 == "time:" && $3 == s { print $4 }' "$OUT/log")"
    done
    echo " $others $own"
  } >> "$OUT/d$1"
}

load() { awk '{ print $1 }' /proc/loadavg; }

# The medians, ranges and per-round ratios of the files d0 .. dN (one line
# a round, the rounds in the same order in each).
report() {
  local files=() i
  for i in $(seq 0 "$N"); do files+=("$OUT/d$i"); done
  awk -v names="${NAMES[*]}" -v n="$N" -v cpus="$CPUS" '
    function sort(a, k,   i, j, t) {
      for (i = 2; i <= k; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    }
    function median(a, k) { sort(a, k); return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2 }
    FNR == 1 { f++ }
    { rounds = FNR; for (c = 1; c <= NF; ++c) v[f - 1, FNR, c] = $c }
    END {
      split(names, name, " ")
      split("wall cpu peak faults read plug-in write", metric, " ")
      split("s s MiB k s s s", unit, " ")
      split("0.001 1 0.0009765625 0.001 1 1 1", scale, " ")
      k = 0
      for (w = 0; w <= n; ++w) for (r = 1; r <= rounds; ++r) { o[++k] = v[w, r, 8]; p[k] = v[w, r, 9] }
      printf "    others\x27 busy share of all cores during the runs: median %.1f %%, max %.1f %%", 100 * median(o, k), 100 * o[k]
      if (cpus != "") printf "; of cores %s: median %.1f %%, max %.1f %%", cpus, 100 * median(p, k), 100 * p[k]
      printf "\n    median [min .. max] of %d rounds\n", rounds
      for (c = 1; c <= 7; ++c) {
        printf "      %-8s %-3s", metric[c], unit[c]
        for (w = 0; w <= n; ++w) {
          for (r = 1; r <= rounds; ++r) a[r] = v[w, r, c] * scale[c]
          m = median(a, rounds)
          printf "  %s %.3f [%.3f .. %.3f]", name[w + 1], m, a[1], a[rounds]
        }
        printf "\n"
      }
      printf "    %s / each, round by round: median [min .. max], rounds above 1\n", name[n + 1]
      for (c = 1; c <= 7; ++c) {
        printf "      %-12s", metric[c]
        for (w = 0; w < n; ++w) {
          above = 0
          for (r = 1; r <= rounds; ++r) {
            a[r] = v[w, r, c] > 0 ? v[n, r, c] / v[w, r, c] : 0
            if (a[r] > 1) ++above
          }
          m = median(a, rounds)
          printf "  / %s %.3f [%.3f .. %.3f] %d of %d", name[w + 1], m, a[1], a[rounds], above, rounds
        }
        printf "\n"
      }
    }' "${files[@]}"
}

echo "${NAMES[*]}: $RUNS interleaved rounds$([ -n "$CPUS" ] && echo " on cores $CPUS")$([ "$VIPS" = 1 ] && echo ', then vips copy')"
for item in "$@"; do
  photo=${item%%:*}
  grid=$GRID
  [ "$photo" = "$item" ] || grid=${item#*:}
  [ -f "$photo" ] || { echo "compare_job: no photo $photo" >&2; exit 1; }
  echo "$photo, grid $grid"
  reference=""
  for t in ${THREADS//,/ }; do
    rm -f "$OUT"/d* "$OUT/v"
    for who in $(seq 0 "$N"); do run "$who" "$t" "$grid" "$photo" "$OUT/$who.png"; done
    rm -f "$OUT"/d*
    before=$(load)
    for round in $(seq "$RUNS"); do
      for place in $(seq 0 "$N"); do
        who=$(((place + round - 1) % (N + 1)))
        run "$who" "$t" "$grid" "$photo" "$OUT/$who.png"
        [ -n "$reference" ] || { reference="$OUT/reference.png"; cp "$OUT/$who.png" "$reference"; }
        cmp -s "$reference" "$OUT/$who.png" || { echo "  ${NAMES[$who]}'s output at $t threads differs" >&2; exit 1; }
      done
      if [ "$VIPS" = 1 ]; then
        "${PIN[@]}" "$TIMED" "$OUT/time" vips copy "$photo" "$OUT/x.v"
        rm -f "$OUT/x.v"
        awk '{ print $1 / 1000 }' "$OUT/time" >> "$OUT/v"
      fi
    done
    echo "  threads $t: load average (1 min) $before before the rounds, $(load) after"
    report
    if [ "$VIPS" = 1 ]; then
      for who in $(seq 0 "$N"); do
        paste -d ' ' "$OUT/d$who" "$OUT/v" | awk -v w="${NAMES[$who]}" '
          { r[NR] = $5 / $10 }
          END {
            for (i = 2; i <= NR; ++i) for (j = i; j > 1 && r[j - 1] > r[j]; --j) { t = r[j]; r[j] = r[j - 1]; r[j - 1] = t }
            printf "      read / vips copy, %s: median %.3f [%.3f .. %.3f]\n", w, NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2, r[1], r[NR] }'
      done
    fi
  done
  echo "  outputs identical ($(stat -c %s "$reference") bytes)"
done
