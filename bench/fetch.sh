#!/usr/bin/env bash
# Loopback download benchmark: vanto-fetch (Linux build) against curl, a 256 MiB file served with
# Content-Length and chunked. Prints per-mode wall-time ratio vanto/curl and both peak RSS values.
# usage: bench/fetch.sh [BUILD_DIR] [ROUNDS]   (BUILD_DIR defaults to build/linux)
# Targets: ratio <= 1.2; vanto peak RSS <= body + 16 MiB with Content-Length, <= 2 x body chunked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
rounds=${2:-3}
fetch=$build/tools/vanto-fetch
[ -x "$fetch" ] || { echo "no $fetch: build the vanto-fetch target first" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is missing" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

size_mib=256
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/body.bin"
python3 "$root/bench/serve.py" "$work/body.bin" "$work/port" &
server_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
body_kib=$((size_mib * 1024))

# Runs one client once; prints "seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
  cat "$work/time"
}

for mode in cl chunked; do
  url="http://127.0.0.1:$port/$mode"
  # One uncounted round each, so that neither client pays for memory the system touches first.
  measure "$fetch" "$url" "$work/vanto.out" >/dev/null
  measure curl -s -o "$work/curl.out" "$url" >/dev/null
  rm -f "$work/vanto.out" "$work/curl.out"
  vanto_total=0 curl_total=0 vanto_rss=0 curl_rss=0
  for round in $(seq "$rounds"); do
    read -r vs vr < <(measure "$fetch" "$url" "$work/vanto.out")
    read -r cs cr < <(measure curl -s -o "$work/curl.out" "$url")
    cmp -s "$work/vanto.out" "$work/body.bin" || { echo "vanto-fetch $mode: body differs" >&2; exit 1; }
    cmp -s "$work/curl.out" "$work/body.bin" || { echo "curl $mode: body differs" >&2; exit 1; }
    echo "  $mode round $round: vanto ${vs}s ${vr} KiB, curl ${cs}s ${cr} KiB"
    vanto_total=$(awk "BEGIN{print $vanto_total + $vs}")
    curl_total=$(awk "BEGIN{print $curl_total + $cs}")
    [ "$vr" -gt "$vanto_rss" ] && vanto_rss=$vr
    [ "$cr" -gt "$curl_rss" ] && curl_rss=$cr
    rm -f "$work/vanto.out" "$work/curl.out"
  done
  ratio=$(awk "BEGIN{printf \"%.3f\", $vanto_total / $curl_total}")
  if [ "$mode" = cl ]; then limit=$((body_kib + 16 * 1024)); else limit=$((2 * body_kib)); fi
  echo "$mode: ratio vanto/curl $ratio (target <= 1.2); peak RSS vanto ${vanto_rss} KiB" \
    "(target <= $limit KiB), curl ${curl_rss} KiB"
done
