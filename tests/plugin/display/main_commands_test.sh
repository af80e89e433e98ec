#!/usr/bin/env bash
# The main window's menus and mouse on a real X display, through the host
# program: it starts its own Xvfb and runs `tessarette-host --dialog` on the
# sample picture, the Cutter moved beside the main window. Each of the
# window's menus is opened in Layout mode (the four buttons, a knife's, a
# split ruler's and the rulers' units menu) and kept as a picture of GTK's
# own menu window (menu-*.png); then two knots of
# the picture's grid are dragged past their neighbouring lines and OK is
# pressed. The output and the stored settings block must equal, byte for
# byte, what the plug-in stores and replays when the layout model is given
# the same edit directly (klt_maincommands --expect, then --last). Last the
# main window is opened in Puzzle mode (klt_maincommands --puzzle) and its
# button menus and a piece's menu are kept the same way. Anything else on
# the programs' standard error fails.
# Usage: main_commands_test.sh HOST_PROGRAM PLUGIN_DIR HELPER SHOT_PROGRAM PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 helper=$3 shot=$4 picture=$5 out=$6

screen=2000x1024
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
source "$(dirname "$0")/host_run.sh"
rm -rf plugin expected ./*.png ./*.txt ./*.xwd
plugin_copies "$plugin_dir" plugin expected

"$helper" --points "$picture" expected > points.txt
point() { sed -n "s/^$1 \(-*[0-9]*\) \(-*[0-9]*\).*$/\1 \2/p" points.txt; }
target() { sed -n "s/^$1 .* to \(-*[0-9]*\) \(-*[0-9]*\)$/\1 \2/p" points.txt; }

# Keeps the program's newest window other than its main window as NAME.png
# once it is painted in the palette (dark, mostly the palette's face).
shoot() {
  local name=$1 id mean face
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --pid "$app" 2> /dev/null | grep -vx "$wid" | grep -vx "${cutter:-x}" | tail -n 1 || true)
    if [ -n "$id" ] && xwd -id "$id" -silent > "$name.xwd" 2> /dev/null &&
       "$shot" --shot "$name.xwd" "$name.png" > "$name.txt"; then
      read -r mean face < <(sed -n 's/^shot [0-9]*,[0-9]* mean \([0-9.]*\) face \([0-9.]*\) accent [0-9]*$/\1 \2/p' "$name.txt")
      if awk -v m="$mean" -v f="$face" 'BEGIN { exit !(m < 0.15 && f >= 0.4) }'; then
        rm -f "$name.xwd"
        return 0
      fi
    fi
    sleep 0.05
  done
  echo "FAILED: the menu $name did not show in the palette: $(cat "$name.txt" 2> /dev/null)"
  exit 1
}

# Opens a menu with a click (button 1 or 3) at a screen point, keeps its
# picture and closes it with Escape.
menu() {  # NAME BUTTON X Y
  xdotool mousemove "$3" "$4" click "$2"
  shoot "$1"
  xdotool key Escape
  sleep 0.3
}

# The dialog with the main window at (mx, my) and the Cutter moved beside
# it, as a person would.
mx=8 my=40 cx=1140 cy=40
open_dialog
at() { echo $((mx + $1)) $((my + $2)); }

for b in Main Select Adjust Help; do
  read -r x y < <(point "button $b")
  menu "menu-layout-$b" 1 $(at "$x" "$y")
done
read -r x y < <(point knife)
menu menu-layout-knife 3 $(at "$x" "$y")
read -r x y < <(point splitter)
menu menu-layout-splitter 3 $(at "$x" "$y")
read -r x y < <(point units)
menu menu-layout-units 3 $(at "$x" "$y")

# The two drags, in steps as a hand makes them, then OK ("Apply Knives").
drag() {  # KNOT
  local x y tx ty
  read -r x y < <(point "knot $1")
  read -r tx ty < <(target "knot $1")
  xdotool mousemove $(at "$x" "$y") sleep 0.2 mousedown 1
  for i in 1 2 3 4 5 6; do
    xdotool mousemove $(at $((x + (tx - x) * i / 6)) $((y + (ty - y) * i / 6))) sleep 0.05
  done
  if [ -n "${2:-}" ]; then keep "$2"; fi
  xdotool mouseup 1
  sleep 0.3
}
drag A
drag B main-knot-drag
read -r x y < <(point apply)
xdotool mousemove $(at "$x" "$y") sleep 0.2 click 1
finish err.txt 0
[ -s dialog.png ] || { echo "FAILED: OK wrote no output"; exit 1; }

# The same edit through the model, stored and replayed.
"$helper" --expect "$picture" expected
cmp plugin/last.data expected/last.data ||
  { echo "FAILED: the dragged layout's settings differ from the model's for the same edit"; exit 1; }
"$host" -q --plugin expected/libtessarette_plugin.so --last "$picture" -o expected.png 2> err-last.txt
cmp dialog.png expected.png ||
  { echo "FAILED: the dialog's output differs from the replay of the model's edit"; exit 1; }

# Puzzle mode: the button menus and a piece's menu, then Cancel.
"$helper" --puzzle "$picture" plugin > out-puzzle.txt 2> err-puzzle.txt &
app=$!
pids+=($app)
for _ in $(seq 1200); do grep -q '^ready' out-puzzle.txt && break; sleep 0.05; done
grep -q '^ready' out-puzzle.txt || { echo "FAILED: Puzzle mode did not open"; cat out-puzzle.txt err-puzzle.txt; exit 1; }
wid=$(xdotool search --onlyvisible --name '^Kelvanos Tessarette 3.0$' | head -n 1)
cutter=""
sleep 0.5
for b in Main Select Adjust; do
  read -r x y < <(sed -n "s/^button $b \(-*[0-9]*\) \(-*[0-9]*\)$/\1 \2/p" out-puzzle.txt)
  menu "menu-puzzle-$b" 1 "$x" "$y"
done
read -r x y < <(sed -n 's/^piece \(-*[0-9]*\) \(-*[0-9]*\)$/\1 \2/p' out-puzzle.txt)
menu menu-puzzle-piece 3 "$x" "$y"
# A rectangle's outline, kept, then dropped with Escape.
xdotool mousemove "$x" "$y" sleep 0.2 mousedown 1 mousemove $((x + 60)) $((y + 40)) sleep 0.1 \
  mousemove $((x + 160)) $((y + 90)) sleep 0.5
keep main-puzzle-outline
xdotool key Escape mouseup 1
sleep 0.3
read -r x y < <(sed -n "s/^button Cancel \(-*[0-9]*\) \(-*[0-9]*\)$/\1 \2/p" out-puzzle.txt)
xdotool mousemove "$x" "$y" sleep 0.2 click 1
finish err-puzzle.txt 0
echo "passed: every menu shown in the palette; the knots dragged and applied give the model's block and its replay byte for byte"
