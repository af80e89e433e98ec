# Sourced by the real-display tests that run the host program, after
# xvfb_display.sh, with host, picture and shot set to the host program, the
# picture and the screenshot program:
#   open_dialog              `--dialog` on the picture with the plug-in in
#                            ./plugin and the options in host_options,
#                            writing dialog.png (out.txt, err.txt);
#                            app := its process, wid := its main window, moved
#                            to (mx, my), cutter := the Cutter, moved beside it
#                            to (cx, cy), as a person would drag them apart
#   find_window NAME LOG     found := the visible window of that title (the
#                            program's standard error LOG shown when none opens)
#   wait_gone NAME           until no visible window of that title is left
#   finish LOG CODE [LINE]   waits for the program, checks its exit code and
#                            that LOG holds nothing but the line given
#   keep NAME [WINDOW]       the window's picture (the main window's by
#                            default) as NAME.png
#   plugin_copies DIR NAME...  a copy of the plug-in's folder DIR for each
#                            run, where the run keeps its settings

open_dialog() {
  "$host" -q ${host_options:-} --plugin plugin/libtessarette_plugin.so --dialog "$picture" -o dialog.png > out.txt 2> err.txt &
  app=$!
  pids+=($app)
  find_window "Kelvanos Tessarette 3.0" err.txt
  wid=$found
  find_window Cutter err.txt
  cutter=$found
  xdotool windowmove "$wid" "$mx" "$my" windowmove "$cutter" "$cx" "$cy"
  sleep 0.5
}

find_window() {
  found=""
  for _ in $(seq 1200); do
    found=$(x_search --onlyvisible --name "^$1\$" | head -n 1) || exit 1
    [ -n "$found" ] && return 0
    kill -0 "$app" 2> /dev/null || break
    sleep 0.05
  done
  echo "FAILED: the $1 window did not open"; cat "$2"; exit 1
}

wait_gone() {
  local ids
  for _ in $(seq 1200); do
    ids=$(x_search --onlyvisible --name "^$1\$") || exit 1
    [ -z "$ids" ] && return 0
    sleep 0.05
  done
  echo "FAILED: the $1 window did not close"; exit 1
}

finish() {
  local code=0
  wait_end
  wait "$app" || code=$?
  [ "$code" -eq "$2" ] || { echo "FAILED: the program ended with $code, not $2"; cat "$1"; exit 1; }
  if [ -n "$(grep -vxF -- "${3:-}" "$1")" ]; then echo "FAILED: the program wrote to standard error"; cat "$1"; exit 1; fi
}

keep() { xwd -id "${2:-$wid}" -silent > "$1.xwd" && "$shot" --shot "$1.xwd" "$1.png" > /dev/null && rm -f "$1.xwd"; }

plugin_copies() {
  local from=$1 d
  shift
  for d in "$@"; do
    mkdir "$d"
    cp "$from/libtessarette_plugin.so" "$from/libtessarette_display.so" \
       "$from/resource_ts30_d.kls4" "$from/Kelvanos Tessarette 3.0 Help.pdf" "$d/"
  done
}
