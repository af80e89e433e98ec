#!/usr/bin/env bash
# Every window with a Cancel, closed every way but OK on a 24 MP picture
# under a window manager, through the host program: it starts its own Xvfb
# and openbox, makes the sample picture five times as large (6000 x 4000),
# writes what the default layout gives it without the dialog (the layout
# the Cutter cuts first), then runs `tessarette-host --dialog` on it. Each
# row of the table opens a window, types into its fields (the first one
# has the keys; Tab to the next), waits a while (none: the close comes
# while the main window renders the typed value) and closes it one way:
# the window manager's close (a WM_DELETE_WINDOW message), Alt+F4 (openbox
# sends the same), the close box, Cancel or Escape. The window must go and
# leave the program's other windows as they were. The Cutter's dialogs,
# the knives' export, the selection's loader and the preferences come
# before the cut; the pieces' export, the effect windows, the image
# overlay's layer picker and the Cutter opened again by "Relayout" after
# it. Then "Apply": the output must equal, byte for byte, the run without
# the dialog. A second run is closed by the main window's close: it is
# cancelled and writes nothing.
# Usage: close_cancel_test.sh HOST_PROGRAM PLUGIN_DIR HELPER WMCLOSE PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 helper=$3 wmclose=$4 sample=$5 out=$6

screen=2000x1024
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
source "$(dirname "$0")/host_run.sh"
if ! command -v openbox > /dev/null; then
  if [ "${CI:-}" = true ]; then echo "FAILED: openbox is not installed"; exit 1; fi
  echo "SKIPPED: openbox is not installed (scripts/install-deps.sh brings it)"
  exit 77
fi
rm -rf plugin alone ./*.png ./*.txt ./*.xwd
plugin_copies "$plugin_dir" plugin alone
# The windows' points are the same on any picture: read on the sample.
"$helper" --fxpoints "$sample" alone > points.txt
rm -f alone/plugin.conf alone/last.data
"$helper" --enlarge "$sample" 5 big.png
picture=$PWD/big.png
"$host" -q --plugin alone/libtessarette_plugin.so "$picture" -o alone.png > out-alone.txt 2> err-alone.txt ||
  { echo "FAILED: the run without the dialog"; cat err-alone.txt; exit 1; }

openbox --sm-disable > openbox.txt 2>&1 &
pids+=($!)
for _ in $(seq 1200); do xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' && break; sleep 0.05; done

control() { sed -n "s|^$1 $2 \(-*[0-9]*\) \(-*[0-9]*\)$|\1 \2|p" points.txt | head -n 1; }
# Each click is followed by a wait for what it brings (a window, its close).
click_at() { xdotool mousemove "$1" "$2" sleep 0.2 click 1; }
# A control's point on the screen: WINDOW_PREFIX NAME/TYPE, the window at (X, Y).
at() { local x y; read -r x y < <(control "$1" "$2"); echo $((X + x)) $((Y + y)); }
place() { eval "$(xdotool getwindowgeometry --shell "$1")"; }
shown() { x_search --onlyvisible --pid "$app" | sort | tr '\n' ' '; }
# Clicks a button at (X, Y) that opens a menu and picks its last item once
# the menu is on screen.
last_item() {  # X Y
  local before
  before=$(shown)
  xdotool mousemove "$1" "$2" click 1
  for _ in $(seq 200); do [ "$(shown)" != "$before" ] && break; sleep 0.05; done
  sleep 0.2
  xdotool key Up Return
}

# Each window: its title, how it opens and what is typed into it (fields
# apart by Tab); the layer picker opens over the image overlay's window
# (owner: its title), which stays when the picker closes.
open_window() {  # WINDOW
  owner=""
  case $1 in
    autolayout) title="Auto Layout" typed="3"; place "$cutter"; click_at $(at cutter Cutter_AutoLayout/5) ;;
    mutations) title="Custom Mutations" typed="40"; place "$cutter"; last_item $(at cutter Cutter_Clone/5) ;;
    shapename) title="Shape Name" typed="kept"; place "$cutter"; click_at $(at cutter Cutter_AddToPM/5) ;;
    knives) title="Export Knives" typed=""; place "$wid"; click_at $(at main Main_Export/5) ;;
    selection) title="Load Selection" typed=""; place "$wid"; last_item $(at main Main_Select/5) ;;
    prefs) title="Preferences" typed="20"; place "$wid"; last_item $(at main Main_Main/5) ;;
    export) title="Export Pieces" typed=""; place "$wid"; click_at $(at main Main_Export/5) ;;
    cutter) title=Cutter typed="3"; place "$wid"; click_at $(at main Main_Relayout/5) ;;
    blur) fx "Gaussian Blur" FXBlur "25" ;;
    bevel) fx Bevel FXBevel "12" ;;
    hsl) fx Hue/Saturation FXHSL "120" ;;
    overlay) fx "Color Overlay" FXCOver "80" ;;
    bc) fx Brightness/Contrast FXBC "60" ;;
    mblur) fx "Motion Blur" FXMBlur "30" ;;
    opacity) fx Opacity FXOpacity "30" ;;
    stroke) fx Stroke FXStroke "100	9" ;;
    ioverlay) fx "Image Overlay" FXIOver "70" ;;
    layers) fx "Image Overlay" FXIOver ""; has_keys
            owner=$title title="Document Layers"
            # "FXiovr_ChooseImage" (its resource rectangle 14,186 to 160,206).
            place "$win"; last_item $((X + 87)) $((Y + 196)) ;;
    *) echo "FAILED: no window $1"; exit 1 ;;
  esac
  has_keys
}
fx() {  # TITLE BUTTON TYPED
  title=$1 typed=$3
  place "$wid"
  click_at $(at main "Main_$2/5")
}
# win := the window titled title, once the window manager has given it the keys.
has_keys() {
  find_window "$title" err.txt
  win=$found
  for _ in $(seq 200); do [ "$(xdotool getwindowfocus)" = "$win" ] && return 0; sleep 0.05; done
  echo "FAILED: the $title window did not take the keys"; exit 1
}

close_window() {  # WAY
  case $1 in
    wm) "$wmclose" "$win" ;;
    altf4) xdotool key alt+F4 ;;
    box) place "$win"; click_at $(at blur FXblur_CloseX/5) ;;
    cancel) place "$win"; click_at $(at blur FXblur_Cancel/5) ;;
    escape) xdotool key Escape ;;
  esac
  wait_gone "$title"
  [ -z "$owner" ] && return 0
  title=$owner
  has_keys
  xdotool key Escape
  wait_gone "$title"
}

# The table: WINDOW WAY SECONDS. Every window by a window manager's way,
# the blur window by the others too.
before_cut=("autolayout wm 0" "mutations altf4 0" "shapename wm 0" "knives altf4 0" "selection wm 0"
            "prefs altf4 0.5")
after_cut=("export wm 0" "blur wm 0.5" "blur altf4 0" "blur box 0.5" "blur cancel 0" "blur escape 0.5"
           "bevel altf4 0.5" "hsl wm 0.5" "overlay altf4 0.5" "bc wm 0" "mblur altf4 0.5" "opacity wm 0.5"
           "stroke altf4 0" "ioverlay wm 0.5" "layers altf4 0" "cutter wm 0.5")
others=""
run_row() {  # WINDOW WAY SECONDS
  local field
  echo "row: $*"
  open_window "$1"
  IFS=$'\t' read -r -a fields <<< "$typed"
  for field in "${fields[@]}"; do xdotool type "$field"; xdotool key Tab; done
  sleep "$3"
  close_window "$2"
  sleep 0.1
  local now
  now=$(shown)
  [ "$now" = "$others" ] || { echo "FAILED: after $1 closed by $2 the windows are '$now', not '$others'"; exit 1; }
}

mx=8 my=40 cx=1140 cy=40
open_dialog
others=$(shown)
for row in "${before_cut[@]}"; do run_row $row; done
place "$cutter"
click_at $(at cutter Cutter_Cut/5)
wait_gone Cutter
sleep 0.3
others=$(shown)
for row in "${after_cut[@]}"; do run_row $row; done
place "$wid"
click_at $(at main Main_Apply/5)
finish err.txt 0
cmp dialog.png alone.png || { echo "FAILED: the output differs from the run without the dialog: a close kept a change"; exit 1; }

# The main window's own close: the run is cancelled.
rm -f dialog.png
open_dialog
"$wmclose" "$wid"
finish err.txt 1 "tessarette-host: cancelled (-128): the dialog was closed without applying; the document is unchanged"
[ ! -e dialog.png ] || { echo "FAILED: the cancelled run wrote an output"; exit 1; }
echo "passed: ${#before_cut[@]} closes before the cut and ${#after_cut[@]} after it left the 24 MP document as" \
     "Cancel does; the main window's close cancelled the run"
