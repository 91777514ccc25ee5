#!/usr/bin/env bash
# The largest body the shipped i686 build downloads and saves under WoW64 Wine 10: the i686
# vanto-fetch.exe against bench/serve.py on 127.0.0.1, with Content-Length and chunked, for
# sizes around the body limit (2 GiB - 1). Runs itself inside scripts/wow64-root. Prints one line
# per size and mode: saved (and equal) or the failure the program reported.
# usage: bench/limit-i686.sh [BUILD_DIR] [--no-laa]   (BUILD_DIR defaults to build/win32)
#   --no-laa  runs a copy of the program with the large-address-aware flag cleared, to compare
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${VANTO_IN_WOW64_ROOT:-}" != 1 ]; then
  exec "$root/scripts/wow64-root" run "$root/bench/limit-i686.sh" "$@"
fi
build=${1:-$root/build/win32}
fetch=$build/tools/vanto-fetch.exe
[ -f "$fetch" ] || { echo "no $fetch: build the win32 vanto-fetch target first" >&2; exit 2; }
work=$(mktemp -d -p "$root/build")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  WINEPREFIX=$work/prefix python3 "$root/tools/wine_layer.py" session-stop || true
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
if [ "${2:-}" = --no-laa ]; then
  python3 - "$fetch" "$work/vanto-fetch.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
flags = struct.unpack_from("<H", data, pe + 22)[0]
struct.pack_into("<H", data, pe + 22, flags & ~0x20)
open(sys.argv[2], "wb").write(data)
PY
  fetch=$work/vanto-fetch.exe
fi
export WINEPREFIX=$work/prefix
python3 "$root/tools/wine_layer.py" session-start

mib=$((1024 * 1024))
for size in $((1024 * mib)) $((1536 * mib)) $((1946 * mib)) $((2048 * mib - 1)) $((2048 * mib)); do
  # Sparse: the server reads zeros, the disk holds only what is saved.
  rm -f "$work/body.bin" && truncate -s "$size" "$work/body.bin"
  python3 "$root/bench/serve.py" "$work/body.bin" "$work/port" &
  server_pid=$!
  for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
  port=$(cat "$work/port")
  for mode in cl chunked; do
    rm -f "$work/saved.bin"
    start=$(date +%s.%N)
    status=0
    saved='Z:'"${work//\//\\}"'\saved.bin'
    "$root/scripts/wine-run" "$fetch" "http://127.0.0.1:$port/$mode" "$saved" \
      >"$work/out" 2>&1 </dev/null || status=$?
    seconds=$(awk "BEGIN{printf \"%.1f\", $(date +%s.%N) - $start}")
    if [ "$status" = 0 ] && [ "$(stat -c %s "$work/saved.bin" 2>/dev/null)" = "$size" ]; then
      result="saved, $size bytes"
    else
      result="not saved (exit $status): $(tr -d '\r' <"$work/out" | tail -n 1)"
      [ ! -e "$work/saved.bin" ] || result="$result; a file was left"
    fi
    echo "$size bytes ($((size / mib)) MiB) $mode: $result in ${seconds}s"
  done
  kill "$server_pid" && wait "$server_pid" 2>/dev/null || true
  server_pid=
  rm -f "$work/port"
done
