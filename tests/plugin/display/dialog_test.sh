#!/usr/bin/env bash
# The plug-in's dialog on a real X display, through the host program, as a
# person uses it: it starts its own Xvfb, runs `tessarette-host --dialog`
# on the sample picture with a copy of the plug-in's folder, waits for the
# main window and the Cutter, moves them side by side and compares an X
# screenshot of each with its headless picture inside its shape (kept in
# OUT_DIR as screen-main.png and screen-cutter.png beside window-main.png
# and window-cutter.png, the two together as screen-dialog.png); then it
# types the rows at once into the field the Cutter opened with, presses
# "Cutter_Cut" and OK, and checks that the output equals both `--grid`
# with the same counts and `--last`'s replay of the block OK stored, byte
# for byte. A second run
# opens the preset manager from the Cutter (compared with its headless
# picture, screen-presets.png), picks a shape with the keys and sends it to
# the Cutter, closes the manager, cuts and presses OK: the output equals
# `--last`'s replay and differs from the first run's (the same grid, read
# from the settings that run stored, with the default knife). A third run
# pressed Cancel writes nothing and ends with the cancel code. A fourth
# exports from the main window's "Export...": the knives in Layout mode,
# then, after Cut, the pieces as PNG files, both named in GTK's save
# dialog; after OK the host program's export of the stored block writes the
# same files byte for byte. `--about` shows the About window (compared the
# same way, screen-about.png) until a key closes it. Anything else on the
# programs' standard error fails.
# Usage: dialog_test.sh HOST_PROGRAM PLUGIN_DIR SHOT_PROGRAM COMPARE_PROGRAM PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 shot=$3 compare=$4 picture=$5 out=$6

# Room for the main window (1100 x 700) and the Cutter (656 x 462) side
# by side.
screen=1800x900
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -rf plugin headless shell ./*.png ./*.txt ./*.xwd ./*.eps
# The plug-in runs from a copy of its folder, where it keeps its settings.
mkdir plugin headless
cp "$plugin_dir/libtessarette_plugin.so" "$plugin_dir/libtessarette_display.so" \
   "$plugin_dir/resource_ts30_d.kls4" "$plugin_dir/Kelvanos Tessarette 3.0 Help.pdf" plugin/
cp "$plugin_dir/resource_ts30_d.kls4" headless/

"$shot" "$picture" headless window-main.png window-cutter.png window-presets.png
"$shot" --about headless window-about.png

# found: the id of the visible window of that name, once it is there.
find_window() {  # NAME OUTPUT
  found=""
  for _ in $(seq 1200); do
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
  find_window "Kelvanos Tessarette 3.0" "$1"
  wid=$found
  find_window Cutter "$1"
  xdotool windowmove "$wid" $mx $my windowmove "$found" $cx $cy
  sleep 0.3
}

finish() {  # OUTPUT CODE [LINE]: waits for the program, checks its exit code and
  # that its standard error holds nothing but the line given
  local code=0
  wait_end
  wait "$app" || code=$?
  [ "$code" -eq "$2" ] || { echo "FAILED: the program ended with $code, not $2"; cat "out-$1.txt" "err-$1.txt"; exit 1; }
  if [ -n "$(grep -vxF -- "${3:-}" "err-$1.txt")" ]; then
    echo "FAILED: the program wrote to standard error"; cat "err-$1.txt"; exit 1
  fi
}

wait_gone() {  # NAME: until no visible window of that name is left
  for _ in $(seq 1200); do
    [ -z "$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null || true)" ] && break
    sleep 0.05
  done
}

# The window NAME of the run OUTPUT with the pointer resting at (DX, DY)
# in it for SECONDS: an X screenshot compared with its headless picture.
compare_window() {  # NAME OUTPUT DX DY SECONDS HEADLESS.png SCREEN.png WHAT
  find_window "$1" "$2"
  eval "$(xdotool getwindowgeometry --shell "$found")"
  xdotool mousemove $((X + $3)) $((Y + $4))
  sleep "$5"
  screen_shows "$compare" "$6" "$X" "$Y" "$7" ||
    { echo "FAILED: $8 differs from its headless picture"; cat compare.txt; exit 1; }
}

in_main() { xdotool mousemove $((mx + $1)) $((my + $2)); }
click_main() { in_main "$1" "$2"; xdotool click 1; }
click_cutter() { xdotool mousemove $((cx + $1)) $((cy + $2)) click 1; }

run_dialog dialog.png
# The pointer on the empty toolbar: the window has the focus without a
# window manager; the status tips fade in, the preview is refined.
in_main 300 46
# Until both windows show their headless pictures, for a minute at most.
seen=""
for _ in $(seq 300); do
  xwd -root -silent > shot.xwd
  seen="the main window"
  "$compare" --compare shot.xwd window-main.png $mx $my screen-main.png > compare.txt || { sleep 0.2; continue; }
  seen="the Cutter"
  "$compare" --compare shot.xwd window-cutter.png $cx $cy screen-cutter.png > compare.txt || { sleep 0.2; continue; }
  seen=""
  break
done
[ -z "$seen" ] || { echo "FAILED: $seen differs from its headless picture"; cat compare.txt; exit 1; }
"$compare" --shot shot.xwd screen-dialog.png > /dev/null

# Five rows typed without a click into the field the Cutter opened with
# (the main window has had the keys since, as a window manager gives them
# to the window shown last), the keys going to the Cutter under the
# pointer; Tab ends the typing; the columns stay the 3 the picture's two
# rows had. Then Cut, which closes the Cutter into Puzzle mode, and "Apply".
xdotool mousemove $((cx + 200)) $((cy + 12))
sleep 0.2
xdotool type 5
xdotool key Tab
sleep 0.3
click_cutter 510 400
wait_gone Cutter
sleep 0.3
click_main 1022 677
finish dialog.png 0
[ -s dialog.png ] || { echo "FAILED: OK wrote no output"; exit 1; }
[ -s plugin/last.data ] || { echo "FAILED: OK stored no settings"; exit 1; }

"$host" -q --plugin plugin/libtessarette_plugin.so --grid 3x5 "$picture" -o grid.png 2> err-grid.txt
cmp dialog.png grid.png || { echo "FAILED: the dialog's cut differs from --grid 3x5"; exit 1; }
"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o last.png 2> err-last.txt
cmp dialog.png last.png || { echo "FAILED: the dialog's output differs from the replay of what it stored"; exit 1; }

# The preset manager from the Cutter's "Cutter_Presets", the pointer on its
# caption (the keys follow the pointer); Down twice picks the second shape,
# Return sends it to the Cutter, Escape closes the manager.
run_dialog presets.png
click_cutter 370 145
compare_window "Presets Manager" presets.png 300 12 1.2 window-presets.png screen-presets.png "the preset manager"
xdotool key Down Down Return
sleep 0.5
xwd -root -silent > shot.xwd
"$compare" --shot shot.xwd screen-presets-sent.png > /dev/null
xdotool key Escape
wait_gone "Presets Manager"
sleep 0.3
click_cutter 510 400
wait_gone Cutter
sleep 0.3
click_main 1022 677
finish presets.png 0
[ -s plugin/ckss.data ] || { echo "FAILED: closing the preset manager wrote no presets file"; exit 1; }
"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o last.png 2> err-last.txt
cmp presets.png last.png || { echo "FAILED: the preset's cut differs from the replay of what it stored"; exit 1; }
# The run opened on the first run's stored 3 x 5 grid: only the knife differs.
if cmp -s presets.png dialog.png; then echo "FAILED: the preset did not reach the knives"; exit 1; fi

run_dialog cancelled.png
click_main 898 677  # "Cancel"
finish cancelled.png 1 "tessarette-host: cancelled (-128): the dialog was closed without applying; the document is unchanged"
if [ -e cancelled.png ]; then echo "FAILED: Cancel wrote an output"; exit 1; fi

# The name typed into GTK's save dialog of that title, once it is up; the
# dialog starts in the program's folder (a typed path would raise GTK's
# completion, which may swallow a key). Returns when the dialog is gone.
save_as() {  # TITLE NAME OUTPUT
  find_window "$1" "$3"
  eval "$(xdotool getwindowgeometry --shell "$found")"
  # The keys go to the window under the pointer.
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
  sleep 0.3
  xdotool key ctrl+a
  xdotool type --delay 40 "$2"
  xdotool key Return
  wait_gone "$1"
  sleep 0.5
}
dialog_point() {  # NAME X Y: a click at a point of the dialog of that name
  find_window "$1" exports.png
  eval "$(xdotool getwindowgeometry --shell "$found")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
  sleep 0.2
}
run_dialog exports.png
click_main 1022 616                # "Export..." in Layout mode
dialog_point "Export Knives" 304 292      # its "Export"
save_as "Export Knives as EPS..." knives.eps exports.png
click_cutter 510 400               # "Cut"
wait_gone Cutter
sleep 0.3
click_main 1022 616                # "Export..." in Puzzle mode
dialog_point "Export Pieces" 30 173        # "PNG files"
dialog_point "Export Pieces" 329 402       # "Export"
save_as "Export Pieces as PNG Files..." pieces.png exports.png
click_main 1022 677                # "Apply"
finish exports.png 0
mkdir shell
"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o shell/replay.png \
  --export-pieces shell/pieces.png --export-knives shell/knives.eps --export-knives-what all 2> err-shell.txt
cmp knives.eps shell/knives.eps || { echo "FAILED: the knives exported from the dialog differ from the shell's"; exit 1; }
pieces=0
for f in shell/pieces_*.png; do
  cmp "$f" "$(basename "$f")" || { echo "FAILED: $(basename "$f") differs from the shell's export"; exit 1; }
  pieces=$((pieces + 1))
done
[ "$pieces" -gt 1 ] && [ "$(ls pieces_*.png | wc -l)" = "$pieces" ] ||
  { echo "FAILED: the dialog exported $(ls pieces_*.png 2> /dev/null | wc -l) PNG files, the shell $pieces"; exit 1; }
"$host" --plugin plugin/libtessarette_plugin.so --about > out-about.txt 2> err-about.txt &
app=$!
pids+=($app)
# Without a window manager the focus follows the pointer; the key needs it.
compare_window About about 200 130 0.5 window-about.png screen-about.png "the About window"
xdotool key a
finish about 0 "tessarette-host: done"
echo "passed: the windows match their headless pictures, the typed rows cut as --grid 3x5 and as --last replays," \
     "a preset sent to the Cutter by the keys cut as --last replays, Cancel wrote nothing, the knives and $pieces" \
     "PNG pieces exported from the main window match the shell's, a key closed the About window"
