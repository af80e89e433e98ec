#!/usr/bin/env bash
# The plug-in's dialog on a real X display, through the host program, as a
# person uses it: it starts its own Xvfb, runs `tessarette-host --dialog`
# on the sample picture with a copy of the plug-in's folder, waits for the
# main window and the Cutter, moves them side by side and compares an X
# screenshot of each with its headless picture inside its shape (kept in
# OUT_DIR as screen-main.png and screen-cutter.png beside window-main.png
# and window-cutter.png, the two together as screen-dialog.png); then it
# types the rows into the Cutter's field, presses "Cutter_Cut" and OK, and
# checks that the output equals both `--grid` with the same counts and
# `--last`'s replay of the block OK stored, byte for byte. A second run
# pressed Cancel writes nothing and ends with the cancel code. `--about`
# shows the About window (compared the same way, screen-about.png) until a
# key closes it. Anything else on the programs' standard error fails.
# Usage: dialog_test.sh HOST_PROGRAM PLUGIN_DIR SHOT_PROGRAM COMPARE_PROGRAM PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 shot=$3 compare=$4 picture=$5 out=$6

# Room for the main window (1100 x 700) and the Cutter (656 x 462) side
# by side.
screen=1800x900
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -rf plugin headless ./*.png ./*.txt ./*.xwd
# The plug-in runs from a copy of its folder, where it keeps its settings.
mkdir plugin headless
cp "$plugin_dir/libtessarette_plugin.so" "$plugin_dir/libtessarette_display.so" \
   "$plugin_dir/resource_ts30_d.kls4" "$plugin_dir/Kelvanos Tessarette 3.0 Help.pdf" plugin/
cp "$plugin_dir/resource_ts30_d.kls4" headless/

"$shot" "$picture" headless window-main.png window-cutter.png
"$shot" --about headless window-about.png

# found: the id of the visible window of that name, once it is there.
find_window() {  # NAME OUTPUT
  found=""
  for _ in $(seq 400); do
    found=$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1 || true)
    [ -n "$found" ] && break
    kill -0 "$app" 2> /dev/null || break
    sleep 0.05
  done
  [ -n "$found" ] || { echo "FAILED: the $1 window did not open"; cat "out-$2.txt" "err-$2.txt"; exit 1; }
}

# Main window at (mx, my), the Cutter beside it at (cx, cy), as a person
# would drag them apart.
mx=8 my=40 cx=1116 cy=40
run_dialog() {  # OUTPUT: starts the dialog in the background
  "$host" -q --plugin plugin/libtessarette_plugin.so --dialog "$picture" -o "$1" > "out-$1.txt" 2> "err-$1.txt" &
  app=$!
  pids+=($app)
  find_window Main "$1"
  wid=$found
  find_window Cutter "$1"
  xdotool windowmove "$wid" $mx $my windowmove "$found" $cx $cy
  sleep 0.3
}

finish() {  # OUTPUT CODE [LINE]: waits for the program, checks its exit code and
  # that its standard error holds nothing but the line given
  local code=0
  for _ in $(seq 400); do kill -0 "$app" 2> /dev/null || break; sleep 0.05; done
  wait "$app" || code=$?
  [ "$code" -eq "$2" ] || { echo "FAILED: the program ended with $code, not $2"; cat "out-$1.txt" "err-$1.txt"; exit 1; }
  if [ -n "$(grep -vxF -- "${3:-}" "err-$1.txt")" ]; then
    echo "FAILED: the program wrote to standard error"; cat "err-$1.txt"; exit 1
  fi
}

in_main() { xdotool mousemove $((mx + $1)) $((my + $2)); }
click_main() { in_main "$1" "$2"; xdotool click 1; }
click_cutter() { xdotool mousemove $((cx + $1)) $((cy + $2)) click 1; }

run_dialog dialog.png
# The pointer on the empty toolbar: the window has the focus without a
# window manager; the status tips fade in, the preview is refined.
in_main 300 46
sleep 1.5
xwd -root -silent > shot.xwd
"$compare" --compare shot.xwd window-main.png $mx $my screen-main.png > compare.txt ||
  { echo "FAILED: the main window differs from its headless picture"; cat compare.txt; exit 1; }
"$compare" --compare shot.xwd window-cutter.png $cx $cy screen-cutter.png > compare.txt ||
  { echo "FAILED: the Cutter differs from its headless picture"; cat compare.txt; exit 1; }
"$compare" --shot shot.xwd screen-dialog.png > /dev/null

# Five rows typed into the Cutter's field (a click selects its text), Tab
# ends the typing; the columns stay the 3 the picture's two rows had. Then
# Cut, which closes the Cutter into Puzzle mode, and "Apply".
click_cutter 613 56
sleep 0.2
xdotool type 5
xdotool key Tab
sleep 0.3
click_cutter 510 400
for _ in $(seq 200); do
  [ -z "$(xdotool search --onlyvisible --name '^Cutter$' 2> /dev/null || true)" ] && break
  sleep 0.05
done
sleep 0.3
click_main 1022 677
finish dialog.png 0
[ -s dialog.png ] || { echo "FAILED: OK wrote no output"; exit 1; }
[ -s plugin/last.data ] || { echo "FAILED: OK stored no settings"; exit 1; }

"$host" -q --plugin plugin/libtessarette_plugin.so --grid 3x5 "$picture" -o grid.png 2> err-grid.txt
cmp dialog.png grid.png || { echo "FAILED: the dialog's cut differs from --grid 3x5"; exit 1; }
"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o last.png 2> err-last.txt
cmp dialog.png last.png || { echo "FAILED: the dialog's output differs from the replay of what it stored"; exit 1; }

run_dialog cancelled.png
click_main 898 677  # "Cancel"
finish cancelled.png 1 "tessarette-host: cancelled (-128): the dialog was closed without applying; the document is unchanged"
if [ -e cancelled.png ]; then echo "FAILED: Cancel wrote an output"; exit 1; fi
"$host" --plugin plugin/libtessarette_plugin.so --about > out-about.txt 2> err-about.txt &
app=$!
pids+=($app)
find_window About about
eval "$(xdotool getwindowgeometry --shell "$found")"
xdotool mousemove $((X + 200)) $((Y + 130))
# Without a window manager the focus follows the pointer; the key needs it.
sleep 0.5
xwd -root -silent > shot.xwd
"$compare" --compare shot.xwd window-about.png "$X" "$Y" screen-about.png > compare.txt ||
  { echo "FAILED: the About window differs from its headless picture"; cat compare.txt; exit 1; }
xdotool key a
finish about 0 "tessarette-host: done"
echo "passed: the windows match their headless pictures, the typed rows cut as --grid 3x5 and as --last replays," \
     "Cancel wrote nothing, a key closed the About window"
