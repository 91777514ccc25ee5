#!/usr/bin/env bash
# Runs a Windows test program that opens windows, in a Wine prefix of its own and on an X display
# of its own, both brought up for the run and stopped after it. A prefix of its own, because a
# Wine session whose desktop started without a display cannot create windows.
#   run_with_display.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
exec python3 "$(dirname "$0")/../../tools/wine_layer.py" with-display "$@"
