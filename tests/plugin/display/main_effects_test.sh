#!/usr/bin/env bash
# A blur spread over pieces on a real X display, through the host program
# as a person runs it: it starts its own Xvfb and runs
# `tessarette-host --dialog` on the sample picture with a copy of the
# plug-in's folder; presses the Cutter's "Cutter_Cut", drags a rectangle
# over the top of the preview in Puzzle mode (kept as main-selection.png),
# opens the blur window with "Main_FXBlur", types value 1's radius, checks
# "FXblur_AAdjust", drags the value-2 slider to value 2, picks the right
# direction "FXblur_AR" (kept as blur-spread.png), presses the window's OK,
# hides the selection's hatch (the main window kept as main-blurred.png)
# and presses the main window's "Apply". The output must equal, byte for byte, the host program's
# `--last` replay of the block the run stored, and the pieces must be
# blurred as the spread's records say: the stored block and the output
# equal those of klt_maincommands --fxexpect, which selects the same
# rectangle and writes the spread's radii through the models. Anything
# else on the programs' standard error fails.
# Usage: main_effects_test.sh HOST_PROGRAM PLUGIN_DIR HELPER SHOT_PROGRAM PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 helper=$3 shot=$4 picture=$5 out=$6
radius1=6 radius2=40

screen=2000x1024
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
source "$(dirname "$0")/host_run.sh"
rm -rf plugin expected ./*.png ./*.txt ./*.xwd
plugin_copies "$plugin_dir" plugin expected

"$helper" --fxpoints "$picture" expected > points.txt
# A control's point in its window: "control WINDOW NAME/TYPE" (a slider's
# point K: "control WINDOW NAME/1 K").
control() { sed -n "s|^$1 $2 \(-*[0-9]*\) \(-*[0-9]*\)$|\1 \2|p" points.txt | head -n 1; }
# A press, moves in six steps and a release, between two screen points.
drag() {  # X0 Y0 X1 Y1
  xdotool mousemove "$1" "$2" sleep 0.2 mousedown 1
  for i in 1 2 3 4 5 6; do
    xdotool mousemove $(($1 + ($3 - $1) * i / 6)) $(($2 + ($4 - $2) * i / 6)) sleep 0.05
  done
  xdotool mouseup 1
  sleep 0.3
}
click_at() { xdotool mousemove "$1" "$2" sleep 0.2 click 1; sleep 0.2; }

# The main window at (mx, my), the Cutter beside it at (cx, cy).
mx=8 my=40 cx=1140 cy=40
open_dialog

read -r x y < <(control cutter Cutter_Cut/5)
click_at $((cx + x)) $((cy + y))
wait_gone Cutter
sleep 0.3

# The rectangle over the top row of pieces.
n='\(-*[0-9]*\)'
read -r x0 y0 x1 y1 < <(sed -n "s/^drag $n $n to $n $n\$/\1 \2 \3 \4/p" points.txt)
drag $((mx + x0)) $((my + y0)) $((mx + x1)) $((my + y1))
sleep 0.3
keep main-selection

read -r x y < <(control main Main_FXBlur/5)
click_at $((mx + x)) $((my + y))
find_window "Gaussian Blur" err.txt
fx=$found
eval "$(xdotool getwindowgeometry --shell "$fx")"
in_blur() { read -r x y < <(control blur "$1"); echo $((X + x)) $((Y + y)); }
# Value 1 typed (a click selects the edit line's text; the pointer stays
# there, as without a window manager the keys follow it); Tab leaves the
# field with the window open (Return would close it as OK).
click_at $(in_blur FXblur_Radius/8)
xdotool type "$radius1"
xdotool key Tab
sleep 0.2
click_at $(in_blur FXblur_AAdjust/7)
drag $(in_blur "FXblur_Radius2/1 0") $(in_blur "FXblur_Radius2/1 $radius2")
click_at $(in_blur FXblur_AR/6)
sleep 0.5
keep blur-spread "$fx"
click_at $(in_blur FXblur_Ok/5)
wait_gone "Gaussian Blur"
# The selection's hatch hidden, so the blur shows in the picture.
read -r x y < <(control main Main_HideExtras/5)
click_at $((mx + x)) $((my + y))
sleep 0.5
keep main-blurred

read -r x y < <(control main Main_Apply/5)
click_at $((mx + x)) $((my + y))
finish err.txt 0
[ -s dialog.png ] || { echo "FAILED: Apply wrote no output"; exit 1; }

"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o last.png 2> err-last.txt
cmp dialog.png last.png || { echo "FAILED: the dialog's output differs from the replay of what it stored"; exit 1; }
# The same cut and rectangle, the spread's records written through the models.
"$helper" --fxexpect "$picture" expected "$radius1" "$radius2" > radii.txt
read -r -a radii < <(sed -n 's/^radii //p' radii.txt)
[[ " ${radii[*]} " == *" $radius1 "* && " ${radii[*]} " == *" $radius2 "* && " ${radii[*]} " == *" -1 "* ]] ||
  { echo "FAILED: the rectangle does not select a row of pieces from left to right: ${radii[*]}"; exit 1; }
cmp plugin/last.data expected/last.data ||
  { echo "FAILED: the block the dialog stored differs from the spread's records set through the models"; exit 1; }
"$host" -q --plugin expected/libtessarette_plugin.so --last "$picture" -o expected.png 2> err-expected.txt
cmp dialog.png expected.png ||
  { echo "FAILED: the dialog's output differs from the replay of the spread's records"; exit 1; }
# The same pieces at radius 0: the blur shows.
"$helper" --fxexpect "$picture" expected 0 0 > /dev/null
"$host" -q --plugin expected/libtessarette_plugin.so --last "$picture" -o unblurred.png 2> err-unblurred.txt
if cmp -s dialog.png unblurred.png; then echo "FAILED: the pieces were not blurred"; exit 1; fi
echo "passed: the radii ${radii[*]} spread to the right over the dragged pieces equal the models' records," \
     "stored and replayed byte for byte"
