#!/usr/bin/env bash
# The effect windows on a real X display: starts its own Xvfb; for each of
# the brightness/contrast, blur and opacity windows compares an X screenshot
# with the headless picture inside the window's shape (the crops stay in
# OUT_DIR as screen-EFFECT.png, beside the headless pictures window-EFFECT.png
# and spread-EFFECT.png), then works the window as a person does: the blur
# radius typed, spread to the right up to a dragged value 2, OK; a
# brightness typed, OK; an opacity typed, Cancel. The pieces' values the
# program prints at the end must follow. Anything on the program's standard
# error fails the test.
# Usage: fx_windows_test.sh PROGRAM RESOURCES OUT_DIR
set -euo pipefail
prog=$1 res=$2 out=$3

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -f out-*.txt err-*.txt shot.xwd window-*.png spread-*.png screen-*.png

# Waits for a line matching the pattern in the program's output.
wait_for() {
  for _ in $(seq 600); do
    grep -q -- "$1" "$log" && return 0
    kill -0 "$app" 2> /dev/null || break
    sleep 0.05
  done
  echo "FAILED: no line matching '$1'"
  echo "--- output"; cat "$log"; echo "--- errors"; cat "err-$effect.txt"
  exit 1
}
# A control's window point, by resource name and type, on the screen.
at() { sed -n "s|^control $1 \([0-9]*\),\([0-9]*\)$|\1 \2|p" "$log" | { read -r cx cy; echo $((x + cx)) $((y + cy)); }; }
click() { read -r px py < <(at "$1"); xdotool mousemove "$px" "$py" click 1; sleep 0.2; }

for effect in 4 0 6; do
  "$prog" "$res" --headless "window-$effect.png" "$effect"
  "$prog" "$res" --headless "spread-$effect.png" "$effect" spread
  log=out-$effect.txt
  xdotool mousemove 1200 1000
  "$prog" "$res" --display "$effect" > "$log" 2> "err-$effect.txt" &
  app=$!
  pids+=($app)
  wait_for '^slider2 '
  read -r x y < <(sed -n 's/^ready at \(-*[0-9]*\),\(-*[0-9]*\) size .*$/\1 \2/p' "$log")
  xwd -root -silent > shot.xwd
  "$prog" --compare shot.xwd "window-$effect.png" "$x" "$y" "screen-$effect.png" > compare.txt ||
    { echo "FAILED: window $effect differs from the headless picture"; cat compare.txt; exit 1; }
  case $effect in
    0)
      click FXblur_Radius/8
      xdotool type 25; xdotool key Return; sleep 0.2
      click FXblur_AAdjust/7
      read -r a0 ay a1 _ < <(sed -n 's/^slider2 \([0-9]*\),\([0-9]*\) \([0-9]*\),\([0-9]*\)$/\1 \2 \3 \4/p' "$log")
      xdotool mousemove $((x + a0)) $((y + ay)) mousedown 1
      for step in 1 2 3 4 5 6 7 8 9 10; do xdotool mousemove $((x + a0 + (a1 - a0) * step / 10)) $((y + ay)); done
      xdotool mouseup 1; sleep 0.2
      click FXblur_AR/6
      click FXblur_Ok/5
      wait_for '^values '
      read -r -a v < <(sed -n 's/^values //p' "$log")
      # Cells by rows: left to right from 25 up to 100 (the knobs move the
      # pieces' centres a little).
      for row in 0 4; do
        [ "${v[row]}" -le 30 ] && [ "${v[row + 3]}" -ge 95 ] && [ "${v[row]}" -lt "${v[row + 1]}" ] &&
          [ "${v[row + 1]}" -lt "${v[row + 2]}" ] && [ "${v[row + 2]}" -lt "${v[row + 3]}" ] ||
          { echo "FAILED: the blur was not spread to the right: ${v[*]}"; exit 1; }
      done
      [[ " ${v[*]} " == *" 25 "* && " ${v[*]} " == *" 100 "* ]] ||
        { echo "FAILED: the spread does not reach from 25 to 100: ${v[*]}"; exit 1; }
      ;;
    4)
      click FXbc_Bright/8
      xdotool type -- -40; xdotool key Return; sleep 0.2
      click FXbc_Ok/5
      wait_for '^values '
      grep -q '^values -40 -40 -40 -40 -40 -40 -40 -40$' "$log" ||
        { echo "FAILED: the brightness did not reach the pieces"; cat "$log"; exit 1; }
      ;;
    6)
      click FXopac_Opacity/8
      xdotool type 50; xdotool key Return; sleep 0.3
      click FXopac_Cancel/5
      wait_for '^values '
      grep -q '^values -1 -1 -1 -1 -1 -1 -1 -1$' "$log" ||
        { echo "FAILED: Cancel did not restore the pieces"; cat "$log"; exit 1; }
      ;;
  esac
  for _ in $(seq 200); do kill -0 "$app" 2> /dev/null || break; sleep 0.05; done
  wait "$app" || { echo "FAILED: the program ended with $?"; cat "err-$effect.txt"; exit 1; }
  if [ -s "err-$effect.txt" ]; then echo "FAILED: window $effect wrote to standard error"; cat "err-$effect.txt"; exit 1; fi
done
echo "passed: the three windows match their headless pictures; typed, spread, OK and Cancel reached the pieces"
