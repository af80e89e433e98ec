#!/usr/bin/env bash
# Colours chosen in GTK's chooser and the window manager's close, on a real
# X display through the host program: it starts its own Xvfb and runs
# `tessarette-host --dialog` on the sample picture. The Cutter refuses the
# window manager's close before the first cut, as its close box does; after
# "Cutter_Cut" the colour overlay's window opened from "Main_FXCOver" is
# closed by the window manager (as its Cancel), opened again, its colour
# turned on ("FXcovr_AColor") and its swatch "FXcovr_Color1" clicked: GTK's
# chooser opens over it (kept as colour-chooser.png, which must be dark),
# a swatch of its palette is clicked and confirmed with "Select", the window's
# OK pressed. Then "Preferences..." of the "Main" menu (closed by the
# window manager, then opened again), its outside
# checker's first swatch "Pref_FCB1" clicked, another palette swatch chosen
# the same way and OK: the main window's preview shows it outside the
# picture (kept as main-prefs.png). Then "Apply": the output shows the
# overlay's colour inside the pieces (the overlay is opaque) and equals,
# byte for byte, the host program's `--last` replay. A second run is closed by the
# window manager's close of the main window: cancelled, as its Cancel.
# Usage: colour_close_test.sh HOST_PROGRAM PLUGIN_DIR HELPER SHOT_PROGRAM WMCLOSE PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 helper=$3 shot=$4 wmclose=$5 picture=$6 out=$7

screen=2000x1024
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
source "$(dirname "$0")/host_run.sh"
rm -rf plugin expected ./*.png ./*.txt ./*.xwd
plugin_copies "$plugin_dir" plugin expected

"$helper" --fxpoints "$picture" expected > points.txt
control() { sed -n "s|^$1 $2 \(-*[0-9]*\) \(-*[0-9]*\)$|\1 \2|p" points.txt | head -n 1; }
click_at() { xdotool mousemove "$1" "$2" sleep 0.2 click 1; sleep 0.2; }
visible() { [ -n "$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null || true)" ]; }
# The window manager's close of the window, again while it is refused (a
# window shuts its close box while the main window is busy) until the
# window named NAME is gone (or, for the main window, the program ended).
wm_close() {  # WINDOW NAME
  for _ in $(seq 40); do
    "$wmclose" "$1" 2> /dev/null || true
    for _ in $(seq 10); do
      if [ "$2" = Main ]; then kill -0 "$app" 2> /dev/null || return 0; else visible "$2" || return 0; fi
      sleep 0.05
    done
  done
  echo "FAILED: the $2 window did not close"; exit 1
}

mx=8 my=40 cx=1140 cy=40
open_dialog

"$wmclose" "$cutter"
sleep 0.5
visible Cutter || { echo "FAILED: the Cutter closed before its first cut"; exit 1; }
read -r x y < <(control cutter Cutter_Cut/5)
click_at $((cx + x)) $((cy + y))
wait_gone Cutter
sleep 0.3

read -r x y < <(control main Main_FXCOver/5)
click_at $((mx + x)) $((my + y))
find_window "Color Overlay" err.txt
wm_close "$found" "Color Overlay"
keep main-before

click_at $((mx + x)) $((my + y))
find_window "Color Overlay" err.txt
fx=$found
eval "$(xdotool getwindowgeometry --shell "$fx")"
in_fx() { read -r x y < <(control overlay "$1"); echo $((X + x)) $((Y + y)); }
click_at $(in_fx FXcovr_AColor/7)
click_at $(in_fx FXcovr_Color1/2)
find_window "Select Color" err.txt
chooser=$found
sleep 0.5
keep colour-chooser "$chooser"
xwd -id "$chooser" -silent > chooser.xwd
"$shot" --shot chooser.xwd chooser-check.png > chooser.txt
read -r mean < <(sed -n 's/^shot [0-9]*,[0-9]* mean \([0-9.]*\) .*$/\1/p' chooser.txt)
awk -v m="$mean" 'BEGIN { exit !(m < 0.2) }' || { echo "FAILED: the chooser is not dark: $(cat chooser.txt)"; exit 1; }
# Clicks the palette's swatch at (SX, SY) in the chooser and "Select";
# picked := its colour, read a little off its centre (where the selection's
# mark will be).
choose() {  # SX SY
  local chooser
  find_window "Select Color" err.txt
  chooser=$found
  sleep 0.5
  xwd -id "$chooser" -silent > chooser.xwd
  eval "$(xdotool getwindowgeometry --shell "$chooser" | sed 's/^/C_/')"
  picked=$("$shot" --pixel chooser.xwd $(($1 - 8)) $(($2 - 6)) | sed -n 's/^pixel //p')
  click_at $((C_X + $1)) $((C_Y + $2))
  click_at $((C_X + C_WIDTH - 50)) $((C_Y + C_HEIGHT - 25))
  wait_gone "Select Color"
}
# The third row's second swatch of the palette.
choose 87 96
colour=$picked
sleep 0.3
keep overlay-chosen "$fx"
click_at $(in_fx FXcovr_Ok/5)
wait_gone "Color Overlay"
sleep 0.3
keep main-coloured

# The outside checker's first colour in the preferences: the second row's
# fifth swatch.
# (closed once by the window manager first: its Cancel)
prefs() {
  read -r x y < <(control main Main_Main/5)
  xdotool mousemove $((mx + x)) $((my + y)) click 1
  sleep 0.5
  xdotool key Up Return
  find_window Preferences err.txt
  pref=$found
}
prefs
wm_close "$pref" Preferences
prefs
eval "$(xdotool getwindowgeometry --shell "$pref")"
in_pref() { read -r x y < <(control pref "$1"); echo $((X + x)) $((Y + y)); }
click_at $(in_pref Pref_FCB1/rect)
choose 242 62
outside=$picked
[ "$outside" != "$colour" ] || { echo "FAILED: the two swatches have one colour"; exit 1; }
sleep 0.3
keep pref-chosen "$pref"
click_at $(in_pref Pref_Ok/5)
wait_gone Preferences
# The preview repaints once the window under the preferences has its
# turn: on a busy machine that may take a while.
shown=0
for _ in $(seq 60); do
  sleep 0.25
  xwd -id "$wid" -silent > main-prefs.xwd
  for px in $(seq 36 2 100); do
    [ "$("$shot" --pixel main-prefs.xwd "$px" 100)" = "pixel $outside" ] && { shown=1; break; }
  done
  [ "$shown" -eq 0 ] || break
done
keep main-prefs
[ "$shown" -eq 1 ] || { echo "FAILED: the preview's outside checker does not show #$outside"; exit 1; }
read -r x y < <(control main Main_Apply/5)
click_at $((mx + x)) $((my + y))
finish err.txt 0
[ -s dialog.png ] || { echo "FAILED: Apply wrote no output"; exit 1; }

# Inside the first piece: the chosen colour.
read -r got < <("$shot" --pixel dialog.png 200 200 | sed -n 's/^pixel //p')
[ "$got" = "$colour" ] || { echo "FAILED: the piece shows $got, not the chosen $colour"; exit 1; }
"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o last.png 2> err-last.txt
cmp dialog.png last.png || { echo "FAILED: the dialog's output differs from the replay of what it stored"; exit 1; }

# The window manager's close of the main window cancels the run.
rm -f dialog.png
open_dialog
wm_close "$wid" Main
finish err.txt 1 "tessarette-host: cancelled (-128): the dialog was closed without applying; the document is unchanged"
[ ! -e dialog.png ] || { echo "FAILED: the cancelled run wrote an output"; exit 1; }
echo "passed: the Cutter kept by its close rule, the overlay's window closed as Cancel, #$colour chosen in" \
     "GTK's chooser reached the pieces and the replay byte for byte, #$outside the preview's checker," \
     "the main window's close cancelled"
