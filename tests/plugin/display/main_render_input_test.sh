#!/usr/bin/env bash
# Clicks made on the main window while its pieces render, on a real X
# display through the host program: it starts its own Xvfb and runs
# `tessarette-host --threads 1 --dialog` on the sample picture enlarged
# three times (a render of its pieces takes a while), cuts with the Cutter,
# then clicks the Help title right after starting a render: after ticking
# the opacity's switch (every piece rendered), after the Gaussian Blur
# window's OK (its pieces rendered as it closes), and after answering Yes
# to "Pieces Layout Has Changed" (a new row from Relayout: the effects
# reset, every piece rendered again). Each time the Help menu must open
# once the render has ended (kept as help-after-switch.png,
# help-after-blur-ok.png and help-after-yes.png); the click is sent with
# the one that starts the render, so it waits in the queue while the render
# runs, behind a closing window as the main window's own. Then Cancel;
# anything on the program's standard error fails.
# Usage: main_render_input_test.sh HOST_PROGRAM PLUGIN_DIR HELPER SHOT_PROGRAM PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 helper=$3 shot=$4 out=$6

screen=2000x1024
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
source "$(dirname "$0")/host_run.sh"
rm -rf plugin ./*.png ./*.txt ./*.xwd
plugin_copies "$plugin_dir" plugin
"$helper" --enlarge "$5" 3 big.png
picture=$PWD/big.png
"$helper" --fxpoints "$picture" plugin > points.txt
rm -f plugin/plugin.conf
control() { sed -n "s|^$1 $2 \(-*[0-9]*\) \(-*[0-9]*\)$|\1 \2|p" points.txt | head -n 1; }
click_at() { xdotool mousemove "$1" "$2" sleep 0.2 click 1; sleep 0.2; }
now() { date +%s%N; }
# Until the program has used next to no processor for a second.
wait_idle() {
  local a b=-99
  for _ in $(seq 120); do
    a=$b b=$(awk '{print $14 + $15}' "/proc/$app/stat")
    [ $((b - a)) -le 8 ] && return 0
    sleep 1
  done
}

# Clicks the point (the control that starts the render), then at once the
# Help title, and waits for the menu (a window other than the main window
# and the box): kept as NAME.png, closed with Escape. The point may be the
# OK of the window CLOSING, sent again while that window stays without a
# menu (its OK refused during a render).
help_after() {  # NAME X Y [CLOSING]
  local hx hy id="" t0 t1
  read -r hx hy < <(control main Main_Help/5)
  for _ in 1 2 3; do
    xdotool mousemove "$2" "$3" sleep 0.2 click 1 mousemove $((mx + hx)) $((my + hy)) click 1
    t0=$(now)
    for _ in $(seq 600); do
      id=$(xdotool search --onlyvisible --pid "$app" 2> /dev/null | grep -vx -e "$wid" -e "${box:-x}" -e "${4:-x}" |
           tail -n 1 || true)
      [ -n "$id" ] && break
      sleep 0.05
    done
    t1=$(now)
    [ -z "$id" ] && [ -n "${4:-}" ] && x_search --onlyvisible --pid "$app" | grep -qx "$4" || break
    wait_idle
  done
  [ -n "$id" ] || { echo "FAILED: the Help title clicked during the render ($1) opened no menu"; cat err.txt; exit 1; }
  echo "$1: the menu opened $(((t1 - t0) / 1000000)) ms after the click"
  sleep 0.3
  xwd -id "$id" -silent > "$1.xwd" && "$shot" --shot "$1.xwd" "$1.png" > /dev/null && rm -f "$1.xwd"
  xdotool key Escape
  sleep 0.3
}

mx=8 my=40 cx=1140 cy=40
host_options="--threads 1"
open_dialog

read -r x y < <(control cutter Cutter_Cut/5)
click_at $((cx + x)) $((cy + y))
wait_gone Cutter
sleep 0.5

read -r x y < <(control main Main_FXOpacity/7)
help_after help-after-switch $((mx + x)) $((my + y))

# The blur window, moved clear of the main window, closed by its OK.
read -r x y < <(control main Main_FXBlur/5)
click_at $((mx + x)) $((my + y))
find_window "Gaussian Blur" err.txt
xdotool windowmove "$found" "$cx" "$cy"
wait_idle  # the render its opening started (its OK refuses while one runs)
eval "$(xdotool getwindowgeometry --shell "$found")"
read -r x y < <(control blur FXblur_Ok/5)
help_after help-after-blur-ok $((X + x)) $((Y + y)) "$found"

# A new row: the pieces' effects go by cell, and the box asks.
read -r x y < <(control main Main_Relayout/5)
click_at $((mx + x)) $((my + y))
find_window Cutter err.txt
eval "$(xdotool getwindowgeometry --shell "$found")"
# The keys to the Cutter, as a window manager gives them to a new window
# (without one they may stay with the main window since its menu).
xdotool windowfocus --sync "$found"
read -r x y < <(control cutter Cutter_Rows/8)
click_at $((X + x)) $((Y + y))
xdotool type 3
xdotool key Tab
sleep 0.3
read -r x y < <(control cutter Cutter_Cut/5)
click_at $((X + x)) $((Y + y))
# The cut renders every piece on one thread: on a loaded machine it takes a while.
box=$(visible_window '^Kelvanos Tessarette$' 2400)
if [ -z "$box" ]; then
  xwd -root -silent > no-question.xwd && "$shot" --shot no-question.xwd no-question.png > /dev/null
  echo "FAILED: no question after the cut (the Cutter $([ -n "$(xdotool search --onlyvisible --name '^Cutter$' 2> /dev/null)" ] && echo "still open" || echo "closed"); no-question.png)"
  cat err.txt
  exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$box")"
# The box's Yes (its resource rectangle 150,118 to 264,144).
help_after help-after-yes $((X + 207)) $((Y + 131))

read -r x y < <(control main Main_Cancel/5)
click_at $((mx + x)) $((my + y))
finish err.txt 1 "tessarette-host: cancelled (-128): the dialog was closed without applying; the document is unchanged"
echo "passed: the Help title clicked while the pieces rendered opened its menu once the render ended," \
     "after the switch, after the blur window's OK and after Yes"
