# Sourced by the real-display tests with out set to their output folder
# (and screen to the screen's size, 1280x1024 by default): needs Xvfb,
# xdotool, xwd and the tools the test names in tools (without them the
# test is skipped, code 77, and fails in CI), makes out the working folder
# with a suppression list for GTK's own allocations that live until exit,
# starts a private Xvfb, points DISPLAY at it, and ends the processes in
# pids when the test ends.

for tool in Xvfb xdotool xwd ${tools:-}; do
  if ! command -v "$tool" > /dev/null; then
    if [ "${CI:-}" = true ]; then echo "FAILED: $tool is not installed"; exit 1; fi
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh brings it)"
    exit 77
  fi
done

mkdir -p "$out"
cd "$out"

cat > lsan.supp <<'SUPP'
leak:libgtk-3.so
leak:libgdk-3.so
leak:libglib-2.0.so
leak:libgobject-2.0.so
leak:libgio-2.0.so
leak:libfontconfig.so
leak:libpango
leak:libcairo.so
leak:libX11.so
leak:libatk
SUPP
export LSAN_OPTIONS="suppressions=$PWD/lsan.supp:print_suppressions=0"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done; }
trap cleanup EXIT

rm -f display.txt
# Without -noreset the server resets whenever its last client leaves, and
# a program starting in that moment cannot open the display.
Xvfb -displayfd 5 -screen 0 "${screen:-1280x1024}x24" -nolisten tcp -noreset 5> display.txt 2> xvfb.log &
pids+=($!)
for _ in $(seq 1200); do [ -s display.txt ] && break; sleep 0.05; done
[ -s display.txt ] || { echo "FAILED: Xvfb did not start"; cat xvfb.log; exit 1; }
export DISPLAY=":$(head -n 1 display.txt)" GDK_BACKEND=x11 GDK_SCALE=1 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory

# Waits for COUNT lines (1 by default) matching the pattern in the
# program's output ($log, out.txt by default) while the program ($app)
# runs; fails with its output and errors ($err, err.txt by default) when
# they do not come. Whether the program has ended is asked before the
# output is read: one that ends in between has written its last line by
# then.
wait_for() {  # PATTERN [COUNT]
  local log=${log:-out.txt} err=${err:-err.txt} ended=0
  for _ in $(seq 1200); do
    kill -0 "$app" 2> /dev/null || ended=1
    [ "$(grep -c -- "$1" "$log" 2> /dev/null)" -ge "${2:-1}" ] 2> /dev/null && return 0
    [ "$ended" = 0 ] || break
    sleep 0.05
  done
  echo "FAILED: no line matching '$1'"
  echo "--- output"; cat "$log"; echo "--- errors"; cat "$err"
  exit 1
}

# The windows `xdotool search ARGS` finds, one a line. A window destroyed
# while xdotool walks the tree ends it with BadWindow and no windows: that
# search is asked again, never taken for an empty answer. Fails (1) when
# xdotool fails for two seconds.
x_search() {  # ARGS
  local found rc
  for _ in $(seq 100); do
    rc=0
    found=$(xdotool search "$@" 2>&1) || rc=$?
    if [ "$rc" -le 1 ] && ! grep -qv '^[0-9]*$' <<< "$found"; then
      [ -z "$found" ] || echo "$found"
      return 0
    fi
    sleep 0.02
  done
  echo "FAILED: xdotool search $*: $found" >&2
  return 1
}

# The first visible window whose name matches NAME, once one shows
# (COUNT tries 0.05 s apart, a minute by default); nothing when none does.
visible_window() {  # NAME [COUNT]
  local id=""
  for _ in $(seq "${2:-1200}"); do
    id=$(x_search --onlyvisible --name "$1" | head -n 1)
    [ -n "$id" ] && break
    sleep 0.05
  done
  echo "$id"
}

# Until the program ($app) has ended, for a minute at most; fails with
# WHAT (that the program did not end, by default) when it runs on, as it
# does when what should have ended it did not arrive.
wait_end() {  # [WHAT]
  for _ in $(seq 1200); do kill -0 "$app" 2> /dev/null || return 0; sleep 0.05; done
  echo "FAILED: ${1:-the program did not end}"
  exit 1
}

# Until an X screenshot (shot.xwd) shows the headless picture PICTURE at
# (X, Y) inside its shape, the screen's crop kept as CROP and the
# comparison in compare.txt; 1 after a minute. A picture reaches the screen
# a while after the program has drawn it, long on a busy machine.
# COMPARER is a program with --compare.
screen_shows() {  # COMPARER PICTURE X Y CROP
  for _ in $(seq 300); do
    xwd -root -silent > shot.xwd
    "$1" --compare shot.xwd "$2" "$3" "$4" "$5" > compare.txt && return 0
    sleep 0.2
  done
  return 1
}
