#!/usr/bin/env bash
# The Cutter on a real X display, as a person uses it: its own Xvfb, the
# Cutter opened beside the layout model over the sample picture, an X
# screenshot compared with the headless picture inside the window's shape
# (kept in OUT_DIR as cutter-screen.png), then the rows typed into their
# field, Cut pressed, and the pieces it made compared byte for byte with a
# replay of the same grid. Anything on the program's standard error fails.
# Usage: cutter_window_test.sh PROGRAM COMPARER RESOURCES OUT_DIR
# (COMPARER: the toolkit's demo program, for its --compare).
set -euo pipefail
prog=$1 comparer=$2 res=$3 out=$4

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -f out.txt err.txt shot.xwd cutter-*.png pieces.png replay.png

"$prog" "$res" --headless cutter-window.png
# The pointer away from the Cutter, so that nothing is highlighted.
xdotool mousemove 2 2
"$prog" "$res" --display pieces.png > out.txt 2> err.txt &
app=$!
pids+=($app)

wait_for '^ready '
read -r x y rx ry cx cy < <(sed -n 's/^ready window [0-9]* at \(-*[0-9]*\),\(-*[0-9]*\) size [0-9]*,[0-9]* rows \([0-9]*\),\([0-9]*\) cut \([0-9]*\),\([0-9]*\)$/\1 \2 \3 \4 \5 \6/p' out.txt)
[ -n "${cy:-}" ] || { echo "FAILED: unreadable ready line"; cat out.txt; exit 1; }

screen_shows "$comparer" cutter-window.png "$x" "$y" cutter-screen.png ||
  { echo "FAILED: the Cutter on screen differs from its headless picture"; cat compare.txt; exit 1; }

# Five rows typed into their field (a click selects its text), Tab ends the
# typing, then Cut.
xdotool mousemove $((x + rx)) $((y + ry)) click 1
sleep 0.2
xdotool type 5
xdotool key Tab
sleep 0.2
xdotool mousemove $((x + cx)) $((y + cy)) click 1
wait_for '^cut [0-9]* pieces '
wait_end
wait "$app" || { echo "FAILED: the program ended with $?"; cat err.txt; exit 1; }
if [ -s err.txt ]; then echo "FAILED: the program wrote to standard error"; cat err.txt; exit 1; fi

read -r n columns rows < <(sed -n 's/^cut \([0-9]*\) pieces \([0-9]*\) x \([0-9]*\)$/\1 \2 \3/p' out.txt)
[ "$rows" = 5 ] || { echo "FAILED: the grid has $rows rows, not the 5 typed"; cat out.txt; exit 1; }
"$prog" --grid "$columns" "$rows" replay.png
cmp pieces.png replay.png || { echo "FAILED: the Cutter's pieces differ from the replay of the same grid"; exit 1; }
echo "passed: the Cutter on screen matches its headless picture; typed rows and Cut gave $n pieces, byte for byte the replay's"
