#!/usr/bin/env bash
# The dialog through the host program with one allocation failed a run
# (the failing allocations preloaded), under Xvfb without a window manager:
# each allocation of 64 KiB or more in turn, then allocations of any size at
# KLF_DIALOG_POINTS points (120) spread evenly from the first allocation to
# the windows shown. Windows that open must look as the unfailed run's (read
# back from the server), and Cancel ends the run with 1, nothing written.
# Any other run ends out of memory (exit 2) with no window mapped, or as the
# README says the libraries end when their own allocations fail. Prints the
# points by outcome.
# Usage: dialog_memory_test.sh HOST_PROGRAM PLUGIN_DIR PRELOAD PICTURE OUT_DIR
set -euo pipefail
host=$1 plugin_dir=$2 preload=$3 picture=$4 out=$5
small_points=${KLF_DIALOG_POINTS:-120}

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

# The pictures of both windows, checksums "main cutter", as the server has them.
pictures() {
  echo "$(xwd -id "$1" -silent 2> /dev/null | md5sum | cut -c1-16) $(xwd -id "$2" -silent 2> /dev/null | md5sum | cut -c1-16)"
}

# Runs the dialog with allocation $1 failed (0: none), counting only
# allocations of $2 bytes or more: code := its exit status, shown := both
# windows opened (then Cancel was pressed), look := their pictures once
# steady, hung := the run did not end by itself (it was ended).
run_point() {
  rm -f dialog.png report.txt
  : > events.txt
  xdotool mousemove 1790 890
  ASAN_OPTIONS=$asan LD_PRELOAD=$preload KLF_FAIL_ALLOCATION=$1 KLF_FAIL_FLOOR=$2 KLF_ALLOCATION_REPORT_FD=3 \
    KLF_ALLOCATION_DETAIL=1 "$host" -q --plugin plugin/libtessarette_plugin.so --dialog "$picture" -o dialog.png \
    > out.txt 2> err.txt 3> report.txt &
  app=$!
  shown="" look="" hung="" titles=""
  # Both windows, the end, or a window on its own for 2 s (an alert); 30 s
  # at most.
  local main="" cutter="" deadline=$((SECONDS + 30)) alone=""
  while kill -0 "$app" 2> /dev/null && [ "$SECONDS" -lt "$deadline" ]; do
    main=$(x_search --onlyvisible --name "^Kelvanos Tessarette 3.0\$" | head -n 1)
    cutter=$(x_search --onlyvisible --name "^Cutter\$" | head -n 1)
    [ -n "$main" ] && [ -n "$cutter" ] && break
    if [ -z "$alone" ] && grep -q '^MapNotify' events.txt; then alone=$((SECONDS + 2)); fi
    if [ -n "$alone" ] && [ "$SECONDS" -ge "$alone" ]; then
      titles=$(x_search --onlyvisible --name . | xargs -r -n 1 xdotool getwindowname 2> /dev/null | paste -sd '|')
      break
    fi
    sleep 0.05
  done
  if [ -n "$main" ] && [ -n "$cutter" ]; then
    shown=1
    kill -USR1 "$app" 2> /dev/null || true
    # Until two looks in a row agree, or the unfailed run's shows (at most
    # 3 s): a window maps before the server has its picture.
    local previous=""
    for _ in $(seq 15); do
      look=$(pictures "$main" "$cutter") || look=""
      [ -n "$look" ] && { [ "$look" = "$want" ] || { [ -z "$want" ] && [ "$look" = "$previous" ]; }; } && break
      previous=$look
      sleep 0.2
    done
    # Cancel, again until the program ends (a click may come before the
    # window takes it on a loaded machine).
    deadline=$((SECONDS + 20))
    while kill -0 "$app" 2> /dev/null && [ "$SECONDS" -lt "$deadline" ]; do
      xdotool windowmove "$main" 8 40 mousemove 906 717 click 1 2> /dev/null || true
      for _ in $(seq 20); do kill -0 "$app" 2> /dev/null || break 2; sleep 0.05; done
    done
  fi
  if kill -0 "$app" 2> /dev/null; then
    hung=1
    kill -KILL "$app" 2> /dev/null || true
  fi
  code=0
  { wait "$app" || code=$?; } 2> /dev/null
  mark "$1"
  mapped=$(grep -c '^MapNotify' events.txt || true)
}

# The outcome of the run just made (of point $point, floor $2), in kind;
# faults counts the faults. The preload names the failed allocation's
# callers ("failed in: ..."); one named after "at N" failed once the
# windows were seen.
judge() {  # PASS FLOOR
  local last failed after=""
  last=$(grep -v '^$' err.txt | tail -n 1 || true)
  failed=$(grep '^failed in:' report.txt || true)
  awk '/^at /{a=NR} /^failed in:/{f=NR} END{exit !(a && f > a)}' report.txt && after=1
  local crashed=""
  { [ "$code" -gt 128 ] && [ -z "$hung" ]; } || grep -q "AddressSanitizer: SEGV" err.txt && crashed=1
  # The libraries' own endings first: one may come as the windows are looked at.
  if grep -qE "GLib-ERROR.*failed to allocate|GLib \(gthread-posix.c\): Unexpected error .* 'malloc'" err.txt; then
    kind="GLib's allocator ended the process"
  elif [ "$code" -eq 1 ] && { [ ! -s err.txt ] || grep -qE "^XIO: +fatal IO error 12 " err.txt; } ||
       { [ "$code" -eq 134 ] && grep -q "xcb_io.c:.*Assertion" err.txt; }; then kind="Xlib ended the process"
  elif grep -q "AddressSanitizer: CHECK failed" err.txt; then kind="the sanitizer ended the process"
  elif [ -n "$crashed" ] && grep -qE "ld-linux|gtk_init_check" <<< "$failed"
  then kind="a library crashed as it started or the display opened"
  elif [ -n "$crashed" ] && grep -q "cairo_paint" <<< "$failed"; then kind="cairo crashed drawing a window"
  elif [ -n "$hung" ] && grep -qE "libglib-2.0.so.0 .*ld-linux" <<< "$failed"; then kind="GLib waits as it starts"
  elif [ -n "$hung" ] && grep -qE "< [a-z]+ < libxcb.so.1 < xcb_wait_for_reply" <<< "$failed"; then
    kind="libxcb waits for the server's answer"
  elif [ -n "$hung" ] && grep -q " < XOpenDisplay < " <<< "$failed"; then
    kind="Xlib waits as it opens the display"
  elif [ -n "$shown" ] && [ "$look" != "$want" ] && grep -qE "gdk_window_(begin|end)_draw_frame" <<< "$failed"; then
    kind="GDK lost a window's picture"
  elif [ -n "$shown" ] && [ -z "$after" ] && [ "$look" != "$want" ]; then kind="FAULT: windows not whole"
  elif [ -n "$shown" ] && [ "$mapped" -gt "$windows" ]; then kind="FAULT: windows whole and $((mapped - windows)) more"
  elif [ -n "$shown" ] && [ "$code" -eq 1 ] && [ ! -e dialog.png ]; then kind="windows whole, cancelled"
  elif [ -n "$shown" ] && [ "$code" -eq 2 ] && [ ! -e dialog.png ] && grep -q "out of memory" <<< "$last"
  then kind="windows whole, cancelled, then out of memory"
  elif [ "$mapped" -gt 0 ]; then kind="FAULT: $mapped windows on the screen ($titles), then exit $code: $last"
  elif [ -n "$hung" ]; then kind="FAULT: no window and no end"
  elif [ "$code" -eq 2 ] && grep -qE "out of memory|Cannot allocate memory" <<< "$last"; then kind="out of memory"
  else kind="FAULT: exit $code: $last"
  fi
  case $kind in FAULT*) faults=$((faults + 1)); echo "FAILED: point $point of $pass: ${kind#FAULT: } ($failed)" ;; esac
  # What a fault or a crash said, kept beside the run's files.
  case $kind in FAULT* | *crashed*) cat report.txt err.txt > "ending-$2-$point.txt" ;; esac
  outcome[$pass: $kind]="${outcome[$pass: $kind]:-} $point"
}

# Once to keep the windows' places, once for their pictures and the
# allocations counted until they show.
want=""
run_point 0 0
run_point 0 0
[ "$code" -eq 1 ] && [ -n "$shown" ] || { echo "FAILED: the unfailed run ended with $code"; cat err.txt; exit 1; }
want=$look
windows=$mapped
start=$(sed -n 's/^at \([0-9]*\)$/\1/p' report.txt)
[ -n "$start" ] || { echo "FAILED: no count at the windows' showing"; cat report.txt; exit 1; }
run_point 0 65536
large=$(sed -n 's/^counted \([0-9]*\) .*/\1/p' report.txt)

declare -A outcome
faults=0
pass="64 KiB or more"
for point in $(seq 1 "$large"); do
  run_point "$point" 65536
  judge "$pass" 65536
done
pass="any size"
for k in $(seq 0 $((small_points - 1))); do
  point=$(((2 * k + 1) * start / (2 * small_points)))
  run_point "$point" 0
  judge "$pass" 0
done
for kind in "${!outcome[@]}"; do
  set -- ${outcome[$kind]}
  echo "$kind ($#):${outcome[$kind]}"
done | sort
echo "$large points of 64 KiB or more, then $small_points of $start allocations until the windows showed"
[ "$faults" -eq 0 ] || exit 1
echo "passed"
