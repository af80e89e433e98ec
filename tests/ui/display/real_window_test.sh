#!/usr/bin/env bash
# The demo window on a real X display: starts its own Xvfb, opens the
# window through the display backend, compares X screenshots of every
# control in each of its looks (normal, highlighted, pressed, pressed
# outside, disabled) with the headless pictures inside the window's shape
# (the crops stay in OUT_DIR as screen-LOOK.png), shows that a click outside
# the shape does not arrive (a click on the button after it does, as its
# control message), picks from a pop-up menu, shows that GTK's own windows
# (the menu, an alert, a file chooser) wear the product's dark palette and
# accent (their pictures stay in OUT_DIR as gtk-menu.png, gtk-alert.png and
# gtk-save.png), that the alert is titled, transient for the window and
# centred over it, that modifier keys alone deliver nothing, that a slow
# launcher (a stand-in xdg-open first on PATH, running until the test has
# its screenshot) leaves the window ticking and repainting while it runs,
# and closes the window with Escape;
# a second run is closed by the window manager's close request (sent by
# WMCLOSE). Anything on the program's standard error fails the test.
# Usage: real_window_test.sh PROGRAM RESOURCES OUT_DIR WMCLOSE
set -euo pipefail
prog=$1 res=$2 out=$3 wmclose=$4

source "$(dirname "$0")/xvfb_display.sh"
# A step that fails without a word of its own says where (in functions
# too).
set -E
trap 'echo "FAILED: line $LINENO: $BASH_COMMAND"' ERR
rm -rf out.txt err.txt shot.xwd window-*.png screen-*.png gtk-* launcher-*.txt bin
# The slow launcher: marks its start, runs until the test releases it (or
# for two minutes at most), marks its end. Its files are this run's own: a
# launcher of the run before may not have seen its release yet, or be
# about to mark its end. Releases stay until no launcher can wait for them.
find . -maxdepth 1 -name 'launcher-*.release' -mmin +3 -delete
launched=$PWD/launcher-$$.txt release=$PWD/launcher-$$.release
mkdir bin
printf '#!/bin/sh\necho "started $1" >> "%s"\nfor _ in $(seq 2400); do [ -e "%s" ] && break; sleep 0.05; done\necho ended >> "%s"\n' \
  "$launched" "$release" "$launched" > bin/xdg-open
chmod +x bin/xdg-open
trap 'touch "$release"; cleanup' EXIT

for look in 0 1 2 3 4; do "$prog" "$res" --headless "window-$look.png" "$look"; done
# The preview at other zooms, kept for a person to look at.
for z in 0 4 6; do "$prog" "$res" --headless "preview-zoom$z.png" 0 "$z"; done

PATH="$PWD/bin:$PATH" "$prog" "$res" --display > out.txt 2> err.txt &
app=$!
pids+=($app)

wait_for '^ready '
read -r x y bx by ox oy < <(sed -n 's/^ready window [0-9]* at \(-*[0-9]*\),\(-*[0-9]*\) size [0-9]*,[0-9]* button \([0-9]*\),\([0-9]*\) outside \(-*[0-9]*\),\(-*[0-9]*\)$/\1 \2 \3 \4 \5 \6/p' out.txt)
[ -n "${oy:-}" ] || { echo "FAILED: unreadable ready line"; cat out.txt; exit 1; }
main=$(xdotool search --onlyvisible --class klt_uidemo | head -n 1)

# Keeps the program's newest window other than the demo's as NAME.png
# (its own window: an xwd of the root shows a GTK menu as a black box)
# once it is painted in the palette: dark, mostly the palette's face and
# field (a window not painted yet shows what lies below it), and with at
# least ACCENT pixels of the accent.
shoot() {
  local name=$1 want=$2 id mean face accent
  for _ in $(seq 1200); do
    id=$(xdotool search --onlyvisible --class klt_uidemo 2> /dev/null | grep -vx "$main" | tail -n 1 || true)
    if [ -n "$id" ] && xwd -id "$id" -silent > "$name.xwd" 2> /dev/null &&
       "$prog" --shot "$name.xwd" "$name.png" > "$name.txt"; then
      read -r mean face accent < <(sed -n 's/^shot [0-9]*,[0-9]* mean \([0-9.]*\) face \([0-9.]*\) accent \([0-9]*\)$/\1 \2 \3/p' "$name.txt")
      if awk -v m="$mean" -v f="$face" -v a="$accent" -v w="$want" 'BEGIN { exit !(m < 0.15 && f >= 0.4 && a >= w) }'; then
        rm -f "$name.xwd"
        return 0
      fi
    fi
    sleep 0.05
  done
  echo "FAILED: $name is not dark with the accent: $(cat "$name.txt" 2> /dev/null)"
  exit 1
}

# The pointer rests on the window's empty well: keys reach the window and
# no control is under the mouse. Tab shows the next look.
xdotool mousemove $((x + 150)) $((y + 200))
for look in 0 1 2 3 4; do
  if [ "$look" -gt 0 ]; then xdotool key Tab; wait_for "^look $look\$"; fi
  screen_shows "$prog" "window-$look.png" "$x" "$y" "screen-$look.png" ||
    { echo "FAILED: look $look differs from the headless picture"; cat compare.txt; exit 1; }
done
xdotool key Tab
wait_for '^look 0$'

# A link opened through the slow launcher: the window ticks and shows its
# next look on screen while the launcher still runs.
# (each look was announced once already)
xdotool key l
wait_for '^launched 0$'
wait_for '^look 1$' 2
for _ in $(seq 1200); do grep -q '^started https://' "$launched" 2> /dev/null && break; sleep 0.05; done
grep -q '^started https://example.org/tessarette-help$' "$launched" ||
  { echo "FAILED: the launcher did not start: $(cat "$launched" 2> /dev/null)"; exit 1; }
screen_shows "$prog" window-1.png "$x" "$y" screen-launching.png ||
  { echo "FAILED: the window did not repaint while the launcher ran"; cat compare.txt; exit 1; }
if grep -q '^ended$' "$launched"; then echo "FAILED: the window waited for the launcher"; cat out.txt; exit 1; fi
touch "$release"
for look in 2 3 4 0; do xdotool key Tab; wait_for "^look $look\$" 2; done
grep -q '^tick 3$' out.txt || { echo "FAILED: the timer did not tick"; exit 1; }


# Outside the shape first, then the button as the sentinel.
if [ "$ox" -ge 0 ]; then xdotool mousemove $((x + ox)) $((y + oy)) click 1; fi
xdotool mousemove $((x + bx)) $((y + by)) click 1
wait_for '^msg 0x110 0 Demo_Button =0$'
if grep -q "^press $ox,$oy$" out.txt; then echo "FAILED: a click outside the shape arrived"; exit 1; fi
grep -q "^press $bx,$by$" out.txt || { echo "FAILED: the button's press is missing"; cat out.txt; exit 1; }

# A right click on the window's empty well opens GTK's menu from its
# triggering event; the second item is chosen by keys once the menu's own
# window is up.
xdotool mousemove $((x + 150)) $((y + 200)) click 3
wait_for '^menu open$'
for _ in $(seq 1200); do
  [ "$(xdotool search --onlyvisible --class klt_uidemo 2> /dev/null | wc -l)" -ge 2 ] && break
  sleep 0.05
done
xdotool key Down Down
shoot gtk-menu 200
xdotool key Return
wait_for '^msg 0x130 -1 Menu =2$'

# The platform's alert and file chooser, from the same menu.
xdotool mousemove $((x + 150)) $((y + 200)) click 3
wait_for '^menu open$'
shoot gtk-menu-again 0
xdotool key Down Return
shoot gtk-alert 200
alert=$(xdotool search --onlyvisible --class klt_uidemo | grep -vx "$main" | tail -n 1)
[ "$(xdotool getwindowname "$alert")" = Message ] ||
  { echo "FAILED: the alert is titled '$(xdotool getwindowname "$alert")', not Message"; exit 1; }
parent=$(xprop -id "$alert" WM_TRANSIENT_FOR | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
[ -n "$parent" ] && [ $((parent)) -eq "$main" ] ||
  { echo "FAILED: the alert is not transient for the window: $(xprop -id "$alert" WM_TRANSIENT_FOR)"; exit 1; }
centre() { eval "$(xdotool getwindowgeometry --shell "$1")"; echo $((X + WIDTH / 2)) $((Y + HEIGHT / 2)); }
read -r acx acy < <(centre "$alert")
read -r wcx wcy < <(centre "$main")
[ $(((acx - wcx) * (acx - wcx) + (acy - wcy) * (acy - wcy))) -le 8 ] ||
  { echo "FAILED: the alert's centre $acx,$acy is not the window's $wcx,$wcy"; exit 1; }
xdotool key Return
wait_for '^message closed$'
xdotool mousemove $((x + 150)) $((y + 200)) click 3
wait_for '^menu open$'
shoot gtk-menu-again 0
xdotool key Down Down Down Down Return
shoot gtk-save 200
xdotool key Escape
wait_for '^save -$'
rm -f gtk-menu-again.*

# The wheel over the preview's centre zooms in one step (from 2).
read -r px py < <(sed -n 's/^preview \([0-9]*\),\([0-9]*\)$/\1 \2/p' out.txt)
xdotool mousemove $((x + px)) $((y + py)) click 4
wait_for '^msg 0x140 [0-9]*  =3$'

# Modifier keys alone deliver nothing; an arrow its key, no character.
xdotool mousemove $((x + 150)) $((y + 200))
xdotool key Shift_L Control_L Alt_L Up
wait_for '^key 1 0$'
if grep -Eq '^(char|keyup) (0|160)$' out.txt; then echo "FAILED: a modifier key delivered an event"; grep -E '^(char|keyup)' out.txt; exit 1; fi

# The pointer is over the window: without a window manager it has the focus.
xdotool key Escape
wait_for '^key 7 0$'
wait_end "Escape did not close the window"
wait "$app" || { echo "FAILED: the program ended with $?"; cat err.txt; exit 1; }
if [ -s err.txt ]; then echo "FAILED: the program wrote to standard error"; cat err.txt; exit 1; fi

# The window manager's close: the window has no close box, so it is Escape.
# The output emptied here: the program's own redirection may come late on a
# busy machine, after the first run's ready line was taken for this one's.
: > out.txt
"$prog" "$res" --display > out.txt 2> err.txt &
app=$!
pids+=($app)
wait_for '^ready '
main=$(xdotool search --onlyvisible --class klt_uidemo | head -n 1)
"$wmclose" "$main"
wait_for '^key 7 0$'
wait_end "the close request did not close the window"
wait "$app" || { echo "FAILED: the program ended with $?"; cat err.txt; exit 1; }
if [ -s err.txt ]; then echo "FAILED: the program wrote to standard error"; cat err.txt; exit 1; fi
echo "passed: the alert titled, transient and centred; the window ticked and repainted while a slow launcher ran;" \
     "the window manager's close closed it"
echo "passed: screenshots of every look match, click reached the button, menu chose, GTK's windows are dark, the wheel zoomed, modifiers alone sent nothing, Escape closed the window"
