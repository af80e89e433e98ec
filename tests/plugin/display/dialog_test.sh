#!/usr/bin/env bash
# The plug-in's dialog on a real X display, through the host program: it
# starts its own Xvfb, runs `tessarette-host --dialog` on the sample picture
# with a copy of the plug-in's folder, waits for the main window, compares
# an X screenshot with the headless picture of the same window inside its
# shape (kept in OUT_DIR as screen-main.png beside window-main.png),
# presses OK and checks that the output equals what `--last` replays from
# the block OK stored; a second run pressed Cancel writes nothing and ends
# with the cancel code. `--about` shows the About window (compared the same
# way, screen-about.png) until a key closes it. Anything else on the
# programs' standard error fails.
# Usage: dialog_test.sh HOST_PROGRAM PLUGIN_DIR SHOT_PROGRAM COMPARE_PROGRAM PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 shot=$3 compare=$4 picture=$5 out=$6

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -rf plugin headless ./*.png ./*.txt ./*.xwd
# The plug-in runs from a copy of its folder, where it keeps its settings.
mkdir plugin headless
cp "$plugin_dir/libtessarette_plugin.so" "$plugin_dir/libtessarette_display.so" \
   "$plugin_dir/resource_ts30_d.kls4" "$plugin_dir/Kelvanos Tessarette 3.0 Help.pdf" plugin/
cp "$plugin_dir/resource_ts30_d.kls4" headless/

"$shot" "$picture" headless window-main.png
"$shot" --about headless window-about.png

run_dialog() {  # OUTPUT: starts the dialog in the background
  "$host" -q --plugin plugin/libtessarette_plugin.so --dialog "$picture" -o "$1" > "out-$1.txt" 2> "err-$1.txt" &
  app=$!
  pids+=($app)
  wid=""
  for _ in $(seq 400); do
    wid=$(xdotool search --onlyvisible --name '^Main$' 2> /dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    kill -0 "$app" 2> /dev/null || break
    sleep 0.05
  done
  [ -n "$wid" ] || { echo "FAILED: the main window did not open"; cat "out-$1.txt" "err-$1.txt"; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  wx=$X wy=$Y
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

# Until the Cutter window lands the dialog opens in Layout mode without it,
# and OK is the main window's "Apply Knives"; with the Cutter open, its Cut
# comes first and OK is "Apply".
click() { xdotool mousemove $((wx + $1)) $((wy + $2)) click 1; }

run_dialog dialog.png
# The pointer on the empty toolbar: the window has the focus without a
# window manager; the status tip fades in, the preview is refined.
xdotool mousemove $((wx + 300)) $((wy + 46))
sleep 1.5
xwd -root -silent > shot.xwd
"$compare" --compare shot.xwd window-main.png "$wx" "$wy" screen-main.png > compare.txt ||
  { echo "FAILED: the main window differs from its headless picture"; cat compare.txt; exit 1; }
click 1022 677  # "Apply Knives"
finish dialog.png 0
[ -s dialog.png ] || { echo "FAILED: OK wrote no output"; exit 1; }
[ -s plugin/last.data ] || { echo "FAILED: OK stored no settings"; exit 1; }

"$host" -q --plugin plugin/libtessarette_plugin.so --last "$picture" -o last.png 2> err-last.txt
cmp dialog.png last.png || { echo "FAILED: the dialog's output differs from the replay of what it stored"; exit 1; }

run_dialog cancelled.png
click 898 677  # "Cancel"
finish cancelled.png 1 "tessarette-host: cancelled (-128): the dialog was closed without applying; the document is unchanged"
if [ -e cancelled.png ]; then echo "FAILED: Cancel wrote an output"; exit 1; fi
"$host" --plugin plugin/libtessarette_plugin.so --about > out-about.txt 2> err-about.txt &
app=$!
pids+=($app)
wid=""
for _ in $(seq 400); do
  wid=$(xdotool search --onlyvisible --name '^About$' 2> /dev/null | head -n 1 || true)
  [ -n "$wid" ] && break
  sleep 0.05
done
[ -n "$wid" ] || { echo "FAILED: the About window did not open"; cat out-about.txt err-about.txt; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove $((X + 200)) $((Y + 130))
# Without a window manager the focus follows the pointer; the key needs it.
sleep 0.5
xwd -root -silent > shot.xwd
"$compare" --compare shot.xwd window-about.png "$X" "$Y" screen-about.png > compare.txt ||
  { echo "FAILED: the About window differs from its headless picture"; cat compare.txt; exit 1; }
xdotool key a
finish about 0 "tessarette-host: done"
echo "passed: the windows match their headless pictures, OK wrote what --last replays, Cancel wrote nothing, a key closed the About window"
