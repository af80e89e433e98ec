#!/usr/bin/env bash
# The main window's dialogs on a real X display, as a person uses them: its
# own Xvfb; the export, knife export, channel selection and preferences
# dialogs each compared with its headless picture inside the window's shape
# (the crops stay in OUT_DIR as screen-NAME.png beside window-NAME.png) and
# closed with Escape; then the export dialog once more: "PNG files"
# clicked, Export, the path typed into GTK's save dialog, and the PNG files
# written compared byte for byte with the same export made headless.
# Anything on the program's standard error fails the test.
# Usage: dialogs_test.sh PROGRAM COMPARER RESOURCES OUT_DIR
# (COMPARER: the toolkit's demo program, for its --compare).
set -euo pipefail
prog=$1 comparer=$2 res=$3 out=$4

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -rf out.txt err.txt shot.xwd window-*.png screen-*.png headless display plugin.conf
mkdir -p display

"$prog" "$res" --headless "$PWD" > headless.txt
rm -f plugin.conf

# The last announced dialog's control, on the screen.
at() {
  sed -n "s|^control $1 \([0-9]*\),\([0-9]*\)$|\1 \2|p" out.txt | tail -n 1 | { read -r cx cy; echo $((x + cx)) $((y + cy)); }
}
ready() {
  wait_for "^ready $1 "
  read -r x y < <(sed -n "s/^ready $1 at \(-*[0-9]*\),\(-*[0-9]*\) size .*$/\1 \2/p" out.txt | tail -n 1)
}

# The pointer off every window until a dialog is up. The program runs in
# the folder the export goes to, where GTK's save dialog starts.
xdotool mousemove 1270 1010
here=$PWD
(cd display && exec "$prog" "$res" --display "$here") > out.txt 2> err.txt &
app=$!
pids+=($app)

n=0
for name in Export ExportLM ChannelList Pref; do
  ready "$name"
  n=$((n + 1))
  screen_shows "$comparer" "window-$name.png" "$x" "$y" "screen-$name.png" ||
    { echo "FAILED: the $name dialog differs from its headless picture"; cat compare.txt; exit 1; }
  # Keys go to the window under the pointer: its caption's left end.
  xdotool mousemove $((x + 4)) $((y + 4))
  xdotool key Escape
  xdotool mousemove 1270 1010
  for _ in $(seq 200); do [ "$(grep -c '^ready ' out.txt)" -gt "$n" ] && break; sleep 0.05; done
done

# The export: PNG files into a folder of their own through GTK's save dialog.
ready Export
read -r px py < <(at Export_ToPNG/6)
xdotool mousemove "$px" "$py" click 1
sleep 0.2
read -r ex ey < <(at Export_Export/5)
xdotool mousemove "$ex" "$ey" click 1
save=$(visible_window '^Export Pieces as PNG Files')
[ -n "$save" ] || { echo "FAILED: GTK's save dialog did not open"; cat out.txt err.txt; exit 1; }
# The keys go to the window under the pointer.
eval "$(xdotool getwindowgeometry --shell "$save")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
sleep 0.3
# A name alone: a path would raise GTK's completion, which may swallow a key.
xdotool key ctrl+a
xdotool type --delay 40 lake.png
xdotool key Return
wait_for '^exported '
wait_end
wait "$app" || { echo "FAILED: the program ended with $?"; cat err.txt; exit 1; }
if [ -s err.txt ]; then echo "FAILED: the program wrote to standard error"; cat err.txt; exit 1; fi

read -r files skipped < <(sed -n 's/^exported \([0-9]*\) files skipped \([0-9]*\)$/\1 \2/p' out.txt)
[ "${files:-0}" -gt 0 ] || { echo "FAILED: nothing was exported"; cat out.txt; exit 1; }
grep -q "^exported $files files skipped $skipped\$" headless.txt ||
  { echo "FAILED: the display's export differs from the headless one"; cat out.txt headless.txt; exit 1; }
[ "$(ls display | wc -l)" = "$files" ] || { echo "FAILED: $files files reported, $(ls display | wc -l) written"; exit 1; }
for f in headless/*.png; do
  cmp "$f" "display/$(basename "$f")" || { echo "FAILED: $(basename "$f") differs from the headless export"; exit 1; }
done
echo "passed: the four dialogs match their headless pictures; $files PNG files exported through GTK's save dialog, byte for byte the headless export's"
