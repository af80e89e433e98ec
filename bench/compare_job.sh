#!/usr/bin/env bash
# The whole job of this working tree against another commit's, in
# interleaved rounds: the host program reads a photograph (PNG), the
# plug-in cuts it, bevels every piece and writes it back, the program
# writes the puzzle as PNG. The commit's tree is exported beside the
# working tree (git archive into build/compare/) and both are built in
# Release (host program and plug-in alone). After one unmeasured run of
# each, each round runs the commit (A) and this tree (B), in turn first
# (A B, B A: neither is always second), optionally then `vips copy` of the
# photo into a .v file (V, the read a PNG costs vips). The medians of
# wall time, CPU time (user + system), peak memory, minor page faults and
# the read, plug-in and write steps (--timings) are printed for A and B,
# with B / A.
# Every output of both, at every thread count, must have the same bytes.
#
# Usage: bash bench/compare_job.sh [options] COMMIT PHOTO[:GRID]...
#   -r RUNS      rounds (default 5)
#   -t LIST      thread counts, comma separated (default: the machine's;
#                0 is the program's default)
#   -g GRID      grid of photos given without one (default 30x20)
#   -v           also time `vips copy PHOTO x.v` in each round
#   -j N         build jobs (default 4)
#   -b COMMIT    B is that commit's tree rather than the working tree
#   -e VAR=VALUE the environment of B's runs (A's with -E), e.g. LD_PRELOAD
# The photos: bench/photo/make_photos.sh OUT_DIR [W H] makes real ones.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=5 THREADS=0 GRID=30x20 VIPS=0 JOBS=4 OTHER="" ENV_A=() ENV_B=()
while getopts "r:t:g:vj:b:e:E:" opt; do
  case $opt in
    r) RUNS=$OPTARG ;;
    t) THREADS=$OPTARG ;;
    g) GRID=$OPTARG ;;
    v) VIPS=1 ;;
    j) JOBS=$OPTARG ;;
    b) OTHER=$OPTARG ;;
    e) ENV_B+=("$OPTARG") ;;
    E) ENV_A+=("$OPTARG") ;;
    *) exit 64 ;;
  esac
done
shift $((OPTIND - 1))
COMMIT=${1:?usage: compare_job.sh [options] COMMIT PHOTO[:GRID]...}
shift
[ $# -gt 0 ] || { echo "compare_job: no photo given" >&2; exit 64; }
SHA=$(git rev-parse --short "$COMMIT^{commit}")
ROOT=build/compare
LAUNCH=()
command -v ccache > /dev/null && LAUNCH=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# Release build of the host program and the plug-in from source dir $1
# into $2.
build() {
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=OFF -DKLF_BUILD_BENCH=OFF "${LAUNCH[@]}" > /dev/null
  cmake --build "$2" -j "$JOBS" --target tessarette-host tessarette_plugin > /dev/null
}
mkdir -p "$ROOT"
# The tree of a commit, exported once.
export_commit() {
  if [ ! -f "$ROOT/src-$1/CMakeLists.txt" ]; then
    rm -rf "$ROOT/src-$1"
    mkdir -p "$ROOT/src-$1"
    git archive "$1" | tar -x -C "$ROOT/src-$1"
  fi
}
export_commit "$SHA"
build "$ROOT/src-$SHA" "$ROOT/build-$SHA"
HOST_A="$ROOT/build-$SHA/tools/tessarette-host"
if [ -n "$OTHER" ]; then
  SHA_B=$(git rev-parse --short "$OTHER^{commit}")
  export_commit "$SHA_B"
  build "$ROOT/src-$SHA_B" "$ROOT/build-$SHA_B"
  HOST_B="$ROOT/build-$SHA_B/tools/tessarette-host"
  NAME_B=$SHA_B
else
  build . "$ROOT/build-work"
  HOST_B="$ROOT/build-work/tools/tessarette-host"
  NAME_B="the working tree ($(git rev-parse --short HEAD)$(git diff --quiet HEAD || echo ' with changes'))"
fi
echo "built A = $SHA and B = $NAME_B"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

# One run: wall cpu peak-KiB faults read plug-in write, on one line.
run() {  # A|B threads grid photo output
  local args=(-q --timings --grid "$3" "$4" -o "$5") host=$HOST_A env=("${ENV_A[@]}")
  [ "$1" = A ] || host=$HOST_B env=("${ENV_B[@]}")
  [ "$2" = 0 ] || args=(--threads "$2" "${args[@]}")
  env "${env[@]}" /usr/bin/time -f "%e %U %S %M %R" -o "$OUT/time" "$host" "${args[@]}" > /dev/null 2> "$OUT/log" ||
    { cat "$OUT/log" >&2; exit 1; }
  local step
  read -r wall user sys peak faults < "$OUT/time"
  printf "%s %s %s %s" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$peak" "$faults"
  for step in read plug-in write; do
    printf " %s" "$(awk -v s="$step" '$2 == "time:" && $3 == s { print $4 }' "$OUT/log")"
  done
  echo
}

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v c="$2" '{ print $c }' "$1" | median; }

report() {  # label file-a file-b
  local names=(wall cpu peak faults read plug-in write) units=(s s MiB k s s s) c a b
  echo "  $1"
  for c in 1 2 3 4 5 6 7; do
    a=$(column "$2" "$c")
    b=$(column "$3" "$c")
    case $c in
      3) a=$(awk -v x="$a" 'BEGIN { print x / 1024 }'); b=$(awk -v x="$b" 'BEGIN { print x / 1024 }') ;;
      4) a=$(awk -v x="$a" 'BEGIN { print x / 1000 }'); b=$(awk -v x="$b" 'BEGIN { print x / 1000 }') ;;
    esac
    awk -v n="${names[$((c - 1))]}" -v u="${units[$((c - 1))]}" -v a="$a" -v b="$b" 'BEGIN {
      printf "    %-8s A %8.3f %-3s  B %8.3f %-3s  B / A %.3f\n", n, a, u, b, u, (a > 0 ? b / a : 0) }'
  done
}

echo "A = $SHA, B = $NAME_B; medians of $RUNS interleaved rounds (A B$([ "$VIPS" = 1 ] && echo ' V')), B / A in brackets"
for item in "$@"; do
  photo=${item%%:*}
  grid=$GRID
  [ "$photo" = "$item" ] || grid=${item#*:}
  [ -f "$photo" ] || { echo "compare_job: no photo $photo" >&2; exit 1; }
  echo "$photo, grid $grid"
  reference=""
  for t in ${THREADS//,/ }; do
    : > "$OUT/a"
    : > "$OUT/b"
    : > "$OUT/v"
    run A "$t" "$grid" "$photo" "$OUT/a.png" > /dev/null
    run B "$t" "$grid" "$photo" "$OUT/b.png" > /dev/null
    for round in $(seq "$RUNS"); do
      for who in $([ $((round % 2)) = 1 ] && echo A B || echo B A); do
        low=$(echo "$who" | tr AB ab)
        run "$who" "$t" "$grid" "$photo" "$OUT/$low.png" >> "$OUT/$low"
      done
      if [ "$VIPS" = 1 ]; then
        s=$(date +%s%N)
        vips copy "$photo" "$OUT/x.v"
        e=$(date +%s%N)
        rm -f "$OUT/x.v"
        awk -v d=$((e - s)) 'BEGIN { print d / 1e9 }' >> "$OUT/v"
      fi
      [ -n "$reference" ] || { reference="$OUT/reference.png"; cp "$OUT/a.png" "$reference"; }
      cmp -s "$reference" "$OUT/a.png" || { echo "  $SHA's output at $t threads differs" >&2; exit 1; }
      cmp -s "$reference" "$OUT/b.png" || { echo "  B's output at $t threads differs" >&2; exit 1; }
    done
    report "threads $t" "$OUT/a" "$OUT/b"
    if [ "$VIPS" = 1 ]; then
      v=$(median < "$OUT/v")
      awk -v v="$v" -v a="$(column "$OUT/a" 5)" -v b="$(column "$OUT/b" 5)" 'BEGIN {
        printf "    vips copy %.3f s; read / vips copy: A %.2f, B %.2f\n", v, a / v, b / v }'
    fi
  done
  echo "  outputs identical ($(stat -c %s "$reference") bytes)"
done
