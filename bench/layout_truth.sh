#!/bin/bash
# Cuts photographs with the host program's layout options and prints, for
# each photo and option set, the pieces the cut gave against the layout's
# cells (the host's own note), one line a run:
#   photo WxH | options | pieces cells
# Usage: bench/layout_truth.sh HOST PHOTO_DIR [OPTIONS_FILE]
# OPTIONS_FILE holds one option set a line; without it the built-in sweep
# (triangles and hexagons regular or not, knob sizes, grids with random
# knots on several seeds, long cells) is run. Runs three at a time.
set -u
host=${1:?host program}
dir=${2:?folder of photographs}
list=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sweep() {
  for knob in "" " --knob-size 1" " --knob-size 30" " --knob-size 100"; do
    for reg in "" " --regular"; do
      for t in 2x3 3x5 4x7 5x9 6x11; do echo "--triangles $t$reg$knob"; done
      for x in 2x3 3x5 4x6 5x8 7x10; do echo "--hexagons $x$reg$knob"; done
    done
  done
  for g in 4x3 6x4 8x5 12x8 3x8 10x3 16x4; do
    for k in 0 5 10 15 20 30; do
      for seed in 1 2 3 4 5; do echo "--grid $g --random-knots $k --seed $seed --flip random"; done
    done
    for knob in 30 60 100; do echo "--grid $g --knob-size $knob"; done
  done
}

run() {  # photo options...
  local photo=$1; shift
  local out size note
  out="$work/$(basename "$photo")-$BASHPID.png"
  size=$(identify -format '%wx%h' "$photo" 2>/dev/null)
  note=$("$host" "$@" "$photo" -o "$out" -q --threads 1 2>&1)
  rm -f "$out"
  if [[ $note =~ gave\ ([0-9]+)\ pieces\ where\ the\ layout\ has\ ([0-9]+)\ cells ]]; then
    echo "$(basename "$photo") $size | $* | ${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
  elif [[ $note == *"done: wrote"* ]]; then
    echo "$(basename "$photo") $size | $* | same"
  else
    echo "$(basename "$photo") $size | $* | failed: $(echo "$note" | head -1)"
  fi
}
export -f run
export host work

{ if [ -n "$list" ]; then cat "$list"; else sweep; fi; } |
  while read -r options; do
    for photo in "$dir"/*; do printf '%s\t%s\n' "$photo" "$options"; done
  done |
  xargs -P3 -d '\n' -n1 bash -c 'IFS=$'"'"'\t'"'"' read -r p o <<< "$0"; run "$p" $o'
