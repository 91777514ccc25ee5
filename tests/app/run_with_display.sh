#!/usr/bin/env bash
# Runs a Windows test program that opens windows: under 64-bit Wine, in a Wine prefix of its own
# and on an X display of its own, both brought up for the run and stopped after it. A prefix of
# its own, because a Wine session whose desktop started without a display cannot create windows.
# The program's output goes through a file: Wine's background services hold on to the streams of
# the first Wine process of a session.
#   run_with_display.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=$(realpath -m "$1")
program=$2
shift 2
export WINELOADER=/usr/lib/wine/wine64 WINEDEBUG=${WINEDEBUG:--all}
"$root/scripts/wine-prefix"

work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

# Every window inside one Wine virtual desktop: without a window manager on the display, Wine
# waits for each top-level window to be mapped and activated.
if [ ! -f "$WINEPREFIX/.vanto-desktop" ]; then
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f \
    >>"$WINEPREFIX/wine-services.log" 2>&1 </dev/null
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ \
    /d 1024x768 /f >>"$WINEPREFIX/wine-services.log" 2>&1 </dev/null
  touch "$WINEPREFIX/.vanto-desktop"
fi
# The desktop is made by the session's first program: start afresh, also after an interrupted run.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w
status=0
"$root/scripts/wine-run" "$program" "$@" >"$work/output" 2>&1 </dev/null || status=$?
cat "$work/output"
exit "$status"
