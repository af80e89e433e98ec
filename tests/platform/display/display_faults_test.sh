#!/usr/bin/env bash
# The display backend's faults (see KLT_DisplayFaults.cpp) on a private
# Xvfb display.
# Usage: display_faults_test.sh PROGRAM OUT_DIR
set -euo pipefail
prog=$1 out=$2

source "$(dirname "$0")/../../ui/display/xvfb_display.sh"
if ! "$prog" > out.txt 2> err.txt; then
  echo "FAILED: the program ended with a fault"
  cat out.txt err.txt
  exit 1
fi
grep -qx ok out.txt || { echo "FAILED: no ok"; cat out.txt err.txt; exit 1; }
echo "passed"
