#!/usr/bin/env bash
# The dialog through the host program with each allocation of 64 KiB or
# more failed in turn (the failing allocations preloaded), under Xvfb
# without a window manager: a run whose windows open is cancelled with the
# main window's Cancel; every other run ends out of memory (exit 2, saying
# so), never "closed without applying", nor on an alert left open, and
# puts no window on the screen (the server's map notices, watched on the
# root window, are counted run by run). GLib's allocator and Xlib end the
# process by design: counted, not faults. Prints the points by outcome.
# Usage: dialog_memory_test.sh HOST_PROGRAM PLUGIN_DIR PRELOAD PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 preload=$3 picture=$4 out=$5

screen=1800x900 tools="xev xprop"
source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
source "$(dirname "$0")/host_run.sh"
rm -rf plugin ./*.txt
plugin_copies "$plugin_dir" plugin
asan="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

# The windows mapped on the screen, and a mark set on the root window after
# each run: once the mark is seen, every notice of the run is in the file
# (set again until then, as the watch may not have started yet).
xev -root -event substructure -event property >> events.txt &
pids+=($!)
mark() {
  for _ in $(seq 100); do
    xprop -root -f KLF_MARK 32c -set KLF_MARK "$1"
    for _ in $(seq 10); do grep -q KLF_MARK events.txt && return 0; sleep 0.02; done
  done
  echo "FAILED: the map notices did not come"; exit 1
}
mark 0

# Runs the dialog with allocation $1 failed (0: none): code := its exit
# status, shown := whether both windows opened (then Cancel was pressed).
run_point() {
  rm -f dialog.png report.txt
  : > events.txt
  ASAN_OPTIONS=$asan LD_PRELOAD=$preload KLF_FAIL_ALLOCATION=$1 KLF_FAIL_FLOOR=65536 KLF_ALLOCATION_REPORT_FD=3 \
    "$host" -q --plugin plugin/libtessarette_plugin.so --dialog "$picture" -o dialog.png > out.txt 2> err.txt 3> report.txt &
  app=$!
  shown=""
  local main="" cutter=""
  for _ in $(seq 1200); do
    kill -0 "$app" 2> /dev/null || break
    main=$(xdotool search --onlyvisible --name "^Kelvanos Tessarette 3.0\$" 2> /dev/null | head -n 1 || true)
    cutter=$(xdotool search --onlyvisible --name "^Cutter\$" 2> /dev/null | head -n 1 || true)
    [ -n "$main" ] && [ -n "$cutter" ] && break
    sleep 0.05
  done
  if [ -n "$main" ] && [ -n "$cutter" ]; then
    shown=1
    # Cancel, again until the program ends (a click may come before the
    # window takes it on a loaded machine).
    for _ in $(seq 20); do
      xdotool windowmove "$main" 8 40 mousemove 906 717 click 1 2> /dev/null || true
      for _ in $(seq 20); do kill -0 "$app" 2> /dev/null || break 2; sleep 0.05; done
    done
  fi
  code=0
  wait_end "the run of point $1 did not end"
  wait "$app" || code=$?
  mark "$1"
  mapped=$(grep -c '^MapNotify' events.txt || true)
}

run_point 0
[ "$code" -eq 1 ] && [ -n "$shown" ] || { echo "FAILED: the unfailed run ended with $code"; cat err.txt; exit 1; }
points=$(sed -n 's/^counted \([0-9]*\) .*/\1/p' report.txt)
declare -A outcome
faults=0
for point in $(seq 1 "$points"); do
  run_point "$point"
  last=$(grep -v '^$' err.txt | tail -n 1 || true)
  if [ -z "$shown" ] && [ "$mapped" -gt 0 ] && ! grep -q "GLib-ERROR.*failed to allocate" err.txt; then
    kind="FAULT"
    faults=$((faults + 1))
    echo "FAILED: point $point put $mapped windows on the screen and ended with $code: $last"
  elif [ "$code" -eq 2 ] && grep -qE "out of memory|Cannot allocate memory" <<< "$last"; then kind="out of memory"
  elif [ -n "$shown" ] && [ "$code" -eq 1 ]; then kind="windows whole, cancelled"
  elif grep -q "GLib-ERROR.*failed to allocate" err.txt; then kind="GLib's allocator ended the process"
  elif [ "$code" -eq 1 ] && [ ! -s err.txt ]; then kind="Xlib ended the process"
  else
    kind="FAULT"
    faults=$((faults + 1))
    echo "FAILED: point $point ended with $code: $last"
  fi
  outcome[$kind]="${outcome[$kind]:-} $point"
done
for kind in "${!outcome[@]}"; do echo "$kind:${outcome[$kind]}"; done
[ "$faults" -eq 0 ] || exit 1
echo "passed: $points points"
