#!/usr/bin/env bash
# Runs a Windows test program that opens windows: under 64-bit Wine, on an X display of its own
# that lives only as long as the run. The program's output goes through a file, because Wine's
# background services may hold on to the streams of the first Wine process of a session.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
program=$1
shift
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
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
status=0
"$root/scripts/wine-run" "$program" "$@" >"$work/output" 2>&1 </dev/null || status=$?
cat "$work/output"
exit "$status"
