#!/usr/bin/env bash
# The layer check on small trees made here: a sound tree passes, and each
# kind of back arrow or wrong dependency fails with its file named.
# Usage: check_layers_test.sh <check_layers.sh>
set -uo pipefail
CHECK=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

# put <file> <line>...: writes a file of the fixture tree.
put() { local f=$WORK/tree/$1; shift; mkdir -p "$(dirname "$f")"; printf '%s\n' "$@" > "$f"; }

# A sound tree: each library's DEPS are what its headers include, its
# PRIVATE_DEPS what only its sources add; windows/ files belong to their
# folder's library; plugin/ and tools/ include anything; build folders,
# tests/ and bench/ are not looked at.
sound_tree() {
  rm -rf "$WORK/tree"
  put platform/CMakeLists.txt 'klf_subsystem(klf_platform LIBS PNG::PNG)'
  put platform/P.h '#include <vector>'
  put platform/P.cpp '#include "P.h"'
  put platform/gtk/CMakeLists.txt 'klf_subsystem(klf_platform_gtk' '  PRIVATE_DEPS klf_platform)'
  put platform/gtk/G.cpp '#include "P.h"'
  put foundation/CMakeLists.txt '# a comment (with a paren' 'klf_subsystem(klf_foundation DEPS klf_platform)'
  put foundation/F.h '#include "P.h"'
  put foundation/F.cpp '#include "F.h"'
  put engine/CMakeLists.txt 'klf_subsystem(klf_engine DEPS klf_foundation)'
  put engine/E.h '#include "F.h"'
  put engine/E.cpp '#include "E.h"'
  put ui/CMakeLists.txt 'klf_subsystem(klf_ui PRIVATE_DEPS klf_foundation)'
  put ui/U.h '#include <string>'
  put ui/U.cpp '#include "U.h"' '  #  include "F.h"'
  put host/CMakeLists.txt 'klf_subsystem(klf_host DEPS klf_engine EXCLUDE plugin)'
  put host/H.h '#include "E.h"'
  put host/H.cpp '#include "H.h"'
  put host/plugin/Entry.cpp '#include "H.h"'
  put app/CMakeLists.txt 'klf_subsystem(klf_app DEPS klf_engine klf_ui)'
  put app/A.h '#include "E.h"'
  put app/A.cpp '#include "A.h"'
  put app/windows/CWnd_A.h '#include "U.h"'
  put app/windows/CWnd_A.cpp '#include "CWnd_A.h"' '#include "A.h"'
  put cutter/CMakeLists.txt 'klf_subsystem(klf_cutter DEPS klf_app PRIVATE_DEPS klf_ui)'
  put cutter/C.h '#include "A.h"'
  put cutter/windows/CWnd_C.cpp '#include "C.h"' '#include "U.h"'
  put effects/CMakeLists.txt 'klf_subsystem(klf_effects)'
  put plugin/Assembly.cpp '#include "CWnd_A.h"' '#include "C.h"' '#include "H.h"'
  put tools/CMakeLists.txt 'add_library(klf_tools STATIC T.cpp)'
  put tools/T.cpp '#include "Assembly.h"' '#include "C.h"'
  put tests/app/ATest.cpp '#include "Assembly.h"' '#include "X.h"'
  put tests/app/X.h '#include "C.h"'
  put bench/B.cpp '#include "C.h"'
  put build-old/engine/E.h '#include "A.h"'  # a build folder's copy is not the tree
}

# expect <pass|fail> <what> [text the report must hold]
expect() {
  local want=$1 what=$2 text=${3:-} out rc
  out=$(bash "$CHECK" "$WORK/tree" 2>&1); rc=$?
  if [ "$want" = pass ] && [ $rc -ne 0 ]; then
    echo "FAIL: $what: refused a sound tree:"; echo "$out"; failures=$((failures + 1))
  elif [ "$want" = fail ] && [ $rc -eq 0 ]; then
    echo "FAIL: $what: not caught"; failures=$((failures + 1))
  elif [ -n "$text" ] && ! grep -qF -- "$text" <<<"$out"; then
    echo "FAIL: $what: the report lacks \"$text\":"; echo "$out"; failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

sound_tree
expect pass "a sound tree" "layer check: 9 libraries"

sound_tree; put engine/E2.cpp '#include "A.h"'
expect fail "the engine including the app" "engine/E2.cpp:1: includes app/A.h: engine never includes app"
sound_tree; put ui/U2.h '#include <A.h>'
expect fail "an angle-bracket include running back up" "ui/U2.h:1: includes app/A.h: ui never includes app"
sound_tree; put host/H2.cpp '' '#include "CWnd_A.h"'
expect fail "the host including an app window" "host/H2.cpp:2: includes app/windows/CWnd_A.h: host never includes app"
sound_tree; put app/windows/CWnd_B.cpp '#include "C.h"'
expect fail "an app window including the cutter" "app/windows/CWnd_B.cpp:1: includes cutter/C.h: app never includes cutter"
sound_tree; put platform/P2.cpp '#include "F.h"'
expect fail "the platform including a subsystem" "platform never includes foundation"
sound_tree; put platform/gtk/G2.cpp '#include "U.h"'
expect fail "a platform subfolder built apart" "platform/gtk/G2.cpp:1: includes ui/U.h: platform never includes ui"
sound_tree; put cutter/C2.cpp '#include "Assembly.h"'
put plugin/Assembly.h '#include <memory>'
expect fail "the cutter including the plug-in's assembly" "cutter never includes plugin"
sound_tree; put newlayer/N.cpp '#include "F.h"'
expect fail "a folder with no rule" "newlayer/: a folder with no layer rule"

sound_tree; put app/CMakeLists.txt 'klf_subsystem(klf_app DEPS klf_engine)'
expect fail "a window's include missing from its folder's DEPS" \
  "klf_app declares DEPS [klf_engine] PRIVATE_DEPS []; its files include DEPS [klf_engine klf_ui]"
sound_tree; put cutter/CMakeLists.txt 'klf_subsystem(klf_cutter DEPS klf_app klf_ui)'
expect fail "a dependency only sources need declared public" "PRIVATE_DEPS [klf_ui]"
sound_tree; put ui/CMakeLists.txt 'klf_subsystem(klf_ui DEPS klf_foundation)'
expect fail "a dependency no header includes declared public" "klf_ui declares DEPS [klf_foundation]"
sound_tree; put effects/CMakeLists.txt 'klf_subsystem(klf_effects DEPS klf_app)'
expect fail "a dependency nothing includes" "klf_effects declares DEPS [klf_app]"
sound_tree; put host/CMakeLists.txt 'klf_subsystem(klf_host DEPS klf_engine)'
put host/plugin/Entry.cpp '#include "E.h"' '#include "P.h"'
expect fail "a subfolder not excluded counts for its library" "PRIVATE_DEPS [klf_platform]"

sound_tree; put cutter/windows/U.h '#include <string>'
expect fail "a header name held by two folders" "ui/U.h: header name also used by cutter/windows/U.h"

echo "$failures failed"
[ "$failures" -eq 0 ]
