#!/usr/bin/env bash
# Installs what is needed, builds the plug-in and the host program in Release
# and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKLF_BUILD_TESTS=OFF
cmake --build build/release -j "$JOBS"

echo "Built. Run the plug-in on an image with: build/release/tools/tessarette-host --help"
