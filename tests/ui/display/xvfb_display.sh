# Sourced by the real-display tests with out set to their output folder
# (and screen to the screen's size, 1280x1024 by default): needs Xvfb,
# xdotool and xwd (without them the test is skipped, code 77, and fails in
# CI), makes out the working folder with a suppression list for GTK's own
# allocations that live until exit, starts a private Xvfb, points DISPLAY
# at it, and ends the processes in pids when the test ends.

for tool in Xvfb xdotool xwd; do
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
for _ in $(seq 200); do [ -s display.txt ] && break; sleep 0.05; done
[ -s display.txt ] || { echo "FAILED: Xvfb did not start"; cat xvfb.log; exit 1; }
export DISPLAY=":$(head -n 1 display.txt)" GDK_BACKEND=x11 GDK_SCALE=1 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
