#!/usr/bin/env bash
# The question box and the platform's dialogs over a window on a real X
# display: starts its own Xvfb and runs PROGRAM (klt_modalbox) twice, first
# without a window manager, then under openbox. Each run asks from the
# window's "Apply" handler, dispatched from the queue while a short click on
# the title bar, pointer moves and a key wait behind it: the handler pumps
# events for a while (the title-bar press reaches the window while its
# release is already queued), then opens the Yes/No box. Every round the box
# must answer one click on Yes, and the window must not have followed the
# pointer there; in the second round the box is first told a wrong place, as
# a window manager's late notice would. The box is named by its caption
# ("Kelvanos Tessarette"), marked modal, a dialog and transient for the
# window, refuses the window manager's close (a Yes/No question must be
# answered) and, under the window manager, keeps the keys when the window
# behind it is clicked. The OK/Cancel box takes the window manager's close
# as Cancel. A short click on the idle window's title bar moves nothing: the
# next click reaches "OK". The Escape that ends a run comes, under the window
# manager, once it has given the window the keys back. Without a window manager the alert shown after
# the file question takes the keyboard focus, and the colour chooser shows
# red and then yellow as they are (kept as chooser-red.png and
# chooser-yellow.png; the box as box-none.png and box-wm.png). Anything on
# the program's standard error fails.
# Usage: modal_box_test.sh PROGRAM RESOURCES WMCLOSE OUT_DIR
set -euo pipefail
prog=$1 res=$2 wmclose=$3 out=$4

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
rm -rf out.txt err.txt openbox.txt ./*.xwd ./*.png load
mkdir load
cp "$res" load/
printf 'KLTS30 damaged' > load/damaged.klpd
if ! command -v openbox > /dev/null; then
  if [ "${CI:-}" = true ]; then echo "FAILED: openbox is not installed"; exit 1; fi
  echo "SKIPPED: openbox is not installed (scripts/install-deps.sh brings it)"
  exit 77
fi

fail() { echo "FAILED: $*"; echo "--- output"; cat out.txt; echo "--- errors"; cat err.txt; exit 1; }
# id := the visible window titled NAME.
find_named() {
  for _ in $(seq 1200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1 || true)
    [ -n "$id" ] && return 0
    sleep 0.05
  done
  fail "no window titled '$1'"
}
focused() {
  for _ in $(seq 1200); do [ "$(xdotool getwindowfocus)" = "$1" ] && return 0; sleep 0.05; done
  return 1
}
place() { eval "$(xdotool getwindowgeometry --shell "$1")"; }
point() { sed -n "s/^$1 \(-*[0-9]*\),\(-*[0-9]*\)$/\1 \2/p"; }

start() {
  : > out.txt  # emptied before the program starts: no line of a run before
  "$prog" "load/$(basename "$res")" 300 > out.txt 2> err.txt &
  app=$!
  pids+=($app)
  wait_for '^ready '
  read -r ax ay ox oy tx ty < <(sed -n 's/^ready at .* apply \([0-9]*\),\([0-9]*\) ok \([0-9]*\),\([0-9]*\) caption \([0-9]*\),\([0-9]*\)$/\1 \2 \3 \4 \5 \6/p' out.txt) ||
    fail "unreadable ready line"
  find_named "Tessarette Demo"
  main=$id
  place "$main"
  mx=$X my=$Y
  rounds=0
}

# Asks from "Apply" (or, with ok, "OK" at once); box := the box, (yx, yy)
# its first button on the screen.
ask() {
  rounds=$((rounds + 1))
  if [ "${1:-}" = ok ]; then
    xdotool mousemove $((mx + ox)) $((my + oy)) click 1
  else
    xdotool mousemove $((mx + ax)) $((my + ay)) click 1 \
      mousemove $((mx + tx)) $((my + ty)) click 1 mousemove $((mx + tx + 60)) $((my + ty + 40)) key a
  fi
  wait_for "^box $rounds yes "
  read -r bx by < <(grep "^box $rounds yes " out.txt | sed 's/^box [0-9]* //' | point yes) ||
    fail "unreadable box line"
  find_named "Kelvanos Tessarette"
  box=$id
  place "$box"
  yx=$((X + bx)) yy=$((Y + by))
}

# One click on the box's first button answers it with A; the window stayed.
answer() {
  xdotool mousemove "$yx" "$yy" click 1
  wait_for "^answer $rounds $1\$"
  place "$main"
  [ "$X,$Y" = "$mx,$my" ] || fail "the window followed the pointer from $mx,$my to $X,$Y"
}

hints() {
  xprop -id "$box" _NET_WM_STATE | grep -q _NET_WM_STATE_MODAL || fail "the box is not modal: $(xprop -id "$box" _NET_WM_STATE)"
  xprop -id "$box" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG ||
    fail "the box is no dialog: $(xprop -id "$box" _NET_WM_WINDOW_TYPE)"
  local parent
  parent=$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
  [ -n "$parent" ] && [ $((parent)) -eq "$main" ] || fail "the box is not transient for the window"
}

run() {  # WM: the run's rounds, with the window manager or without
  start
  # A window manager takes a new window in before it gives it the keys; a
  # click before that may not reach it.
  [ "$1" = none ] || focused "$main" || fail "the window did not take the keyboard focus"
  ask
  hints
  xwd -id "$box" -silent > box.xwd
  "$prog" --count box.xwd 000000 "box-$1.png" > /dev/null
  # The window manager's close is refused: the click after it answers Yes.
  "$wmclose" "$box"
  if [ "$1" = wm ]; then
    # The window behind the box clicked: the keys stay with the box.
    xdotool mousemove $((mx + 300)) $((my + 250)) click 1 key k
    wait_for '^box key k$'
  fi
  answer 1
  for round in 2 3 4; do
    ask
    # A wrong place, as a late notice of the window manager gives.
    [ "$round" = 2 ] && "$wmclose" "$box" 3 5
    answer 1
  done
  ask ok
  "$wmclose" "$box"
  wait_for "^answer $rounds 0\$"
  # A short click on the idle window's title bar, the pointer away: the next
  # click is OK's.
  xdotool mousemove $((mx + tx)) $((my + ty)) click 1 mousemove $((mx + tx + 100)) $((my + ty + 80))
  ask ok
  "$wmclose" "$box"
  wait_for "^answer $rounds 0\$"
}

finish() {  # WM
  # The window manager gives the window the keys back after the last box
  # has gone; a key before that may not reach it.
  [ "$1" = none ] || focused "$main" || fail "the window did not take the keys back"
  xdotool mousemove $((mx + 300)) $((my + 250)) key Escape
  wait_end
  wait "$app" || fail "the program ended with $?"
  [ -s err.txt ] && fail "the program wrote to standard error"
  return 0
}

run none

# The menu's "Load...": a file named in the file question, the alert.
xdotool mousemove $((mx + 300)) $((my + 250)) click 3
wait_for '^menu open$'
xdotool key Down Return
find_named "Load Document..."
focused "$id" || fail "the file question did not take the keyboard focus"
# The question opens in the resource file's folder, on the one document
# there; its list may still be filling when the keys come.
for _ in $(seq 5); do
  xdotool key Down Return
  for _ in $(seq 60); do grep -q '^alert$' out.txt && break 2; sleep 0.05; done
done
wait_for '^alert$'
find_named "Error!"
focused "$id" || fail "the alert did not take the keyboard focus"
xdotool key Return
wait_for '^alert closed$'

# The chooser on red, then on yellow: its current colour's swatch shows it.
menu=1
for colour in ff0000:red ffff00:yellow; do
  menu=$((menu + 1))
  xdotool mousemove $((mx + 300)) $((my + 250)) click 3
  wait_for '^menu open$' "$menu"
  xdotool key $(printf 'Down %.0s' $(seq "$menu")) Return
  find_named "Select Color"
  count=0
  for _ in $(seq 300); do
    xwd -id "$id" -silent > chooser.xwd
    count=$("$prog" --count chooser.xwd "${colour%:*}" "chooser-${colour#*:}.png" | sed -n 's/^count //p')
    [ "$count" -ge 400 ] && break
    sleep 0.05
  done
  [ "$count" -ge 400 ] || fail "the chooser shows ${colour#*:} on $count pixels only (chooser-${colour#*:}.png)"
  xdotool key Escape
  wait_for '^colour -$' $((menu - 1))
done
rm -f chooser.xwd box.xwd
finish none

openbox --sm-disable > openbox.txt 2>&1 &
pids+=($!)
for _ in $(seq 1200); do xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' && break; sleep 0.05; done
run wm
finish wm
echo "passed: boxes asked from queued handlers answered one click each, with and without a window manager;" \
     "the boxes named, modal, dialogs of the window; their close refused (Yes/No) or Cancel (OK/Cancel);" \
     "title-bar clicks moved nothing; the alert after the file question took the keys; the chooser showed red and yellow"
