#!/usr/bin/env bash
# Installs what is needed, builds the plug-in and the host program in Release
# and runs the main job on the bundled sample picture.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=OFF
cmake --build build/release -j "$JOBS"

# The main job: the host program loads the plug-in, hands it a grid layout
# of 6 columns and 4 rows (--grid; the picture's default layout is 3 x 2)
# as a recorded action would, and the plug-in cuts the picture into
# pieces, bevels them and writes the puzzle back; then the same layout in
# Layout mode, the knives alone over the picture's background colour.
HOST=build/release/tools/tessarette-host
SAMPLE=tools/sample/lake.png
"$HOST" --grid 6x4 --save-settings build/puzzle.klpd "$SAMPLE" -o build/puzzle.png
"$HOST" --grid 6x4 --layout-mode "$SAMPLE" -o build/puzzle-knives.png
echo "Open build/puzzle.png (the puzzle) and build/puzzle-knives.png (its knives)."
echo "build/puzzle.klpd holds the layout; replay it on any picture with"
echo "  $HOST --settings build/puzzle.klpd IMAGE -o OUT.png"
