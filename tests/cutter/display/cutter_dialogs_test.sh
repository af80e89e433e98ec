#!/usr/bin/env bash
# The Cutter's dialogs on a real X display: starts its own Xvfb, opens each
# dialog through the display backend, compares an X screenshot with the
# headless picture inside the window's shape (the crops stay in OUT_DIR as
# screen-NAME.png, the headless pictures as window-NAME.png), then drives
# it as a user would with the keys and the mouse: the preset manager sends
# a shape to the Cutter and shows its big cells (big-PresMng.png), the name
# dialog takes a typed name, the auto layout dialog lays triangles, the
# custom mutation dialog hands back a typed amount. Anything on a
# program's standard error fails the test.
# Usage: cutter_dialogs_test.sh PROGRAM UIDEMO RESOURCES OUT_DIR
set -euo pipefail
prog=$1 demo=$2 res=$3 out=$4

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
# A step that fails without a word of its own says where (in functions
# too).
set -E
trap 'echo "FAILED: line $LINENO: $BASH_COMMAND"' ERR
rm -rf presets out.txt err.txt shot.xwd window-*.png screen-*.png big-*
mkdir presets

app=0
# Opens the dialog on the display and compares it with its headless
# picture while the pointer rests on a spot (QX, QY) without a control.
# The pointer is there before the dialog appears (the program opens it at
# 60,40), as a person's pointer often is: the control given the keys at
# opening keeps them.
open_dialog() {
  local name=$1 qx=$2 qy=$3
  "$prog" "$res" --headless "$name" "$PWD/presets" "window-$name.png" 2> err.txt ||
    { echo "FAILED: $name does not open headless"; cat err.txt; exit 1; }
  xdotool mousemove $((60 + qx)) $((40 + qy))
  # Emptied here: the program's own redirection may come late on a busy
  # machine, after the last dialog's ready line was taken for this one's.
  : > out.txt
  "$prog" "$res" --display "$name" "$PWD/presets" > out.txt 2> err.txt &
  app=$!
  pids+=($app)
  # The line whole as far as the place it gives (a busy program's line may
  # be seen half written).
  wait_for '^ready window [0-9]* at -*[0-9]*,-*[0-9]* size '
  read -r x y < <(sed -n 's/^ready window [0-9]* at \(-*[0-9]*\),\(-*[0-9]*\) size .*$/\1 \2/p' out.txt)
  xdotool mousemove $((x + qx)) $((y + qy))
  # Until the dialog has painted its look with the pointer at rest.
  screen_shows "$demo" "window-$name.png" "$x" "$y" "screen-$name.png" && return 0
  echo "FAILED: $name differs from its headless picture"; cat compare.txt; exit 1
}

# The dialog has ended and said what it gave.
closed() {
  wait_for "^closed $1\$"
  wait_end
  wait "$app" || { echo "FAILED: the program ended with $?"; cat err.txt; exit 1; }
  if [ -s err.txt ]; then echo "FAILED: the program wrote to standard error"; cat err.txt; exit 1; fi
}

# The preset manager: the default set, seeded into the empty folder; the
# keys pick the second shape, Return sends it to the Cutter; the big view;
# Escape closes and writes the presets file.
open_dialog PresMng 660 385
xdotool key Down Down Return
wait_for '^shape 7 nodes$'
xdotool mousemove $((x + 360)) $((y + 395)) click 1
# The big view's picture is for a person to look at: the window is looked
# up (for a minute at most) and shot; a busy display shows it late.
sleep 0.3
for _ in $(seq 300); do
  win=$(xdotool search --onlyvisible --class klt_cutterdialogs 2> /dev/null | tail -n 1 || true)
  [ -n "$win" ] && xwd -id "$win" -silent > big.xwd 2> /dev/null && break
  sleep 0.2
done
[ -s big.xwd ] && "$demo" --shot big.xwd big-PresMng.png > /dev/null && rm -f big.xwd
xdotool mousemove $((x + 660)) $((y + 385)) key Escape
closed 0
[ "$(stat -c %s presets/ckss.data)" -eq $((12 * 836)) ] || { echo "FAILED: ckss.data is not the default set"; exit 1; }

# The name dialog: the text selected at opening is typed over.
open_dialog ShapeName 20 105
xdotool type --delay 20 "Wavy"
xdotool key Return Return
closed 1
grep -qx 'name Wavy' out.txt || { echo "FAILED: the typed name did not come back"; cat out.txt; exit 1; }

# The auto layout dialog: the rows typed at once into the field it opened
# with, Tab, the columns; one Return ends the typing and confirms.
open_dialog AutoLayout 220 205
xdotool type --delay 20 "3"
xdotool key Tab
xdotool type --delay 20 "4"
xdotool key Return
closed 1
grep -qx 'layout triangles 3x4' out.txt || { echo "FAILED: no triangle layout"; cat out.txt; exit 1; }

# The custom mutation dialog: an amount typed at once into the field it
# opened with; one Return.
open_dialog CMuts 20 276
xdotool type --delay 20 "25"
xdotool key Return
closed 1
grep -qx 'mutations 25 0 0' out.txt || { echo "FAILED: the amounts did not come back"; cat out.txt; exit 1; }

echo "passed: every dialog matches its headless picture; a shape reached the Cutter, the presets file was written, a name, a layout and the amounts came back"
