#!/usr/bin/env bash
# Loopback download benchmark: vanto-fetch against curl, both fetching from nginx (started and
# stopped here, with a config of its own) a 256 MiB and a 16 MiB file, each with Content-Length and
# chunked, and a 4 KiB information file. The Windows builds run under Wine and are compared with native curl:
# the shipped i686 build under the WoW64 Wine of scripts/wow64-root, the x86_64 build under the
# host's Wine. Clients and curl take turns, round by round; every figure is the median of the
# rounds with the spread (lowest-highest), and each ratio is taken against curl's median of the
# same rounds; the speed is that of the 256 MiB body. Peak memory is the highest of the rounds, for
# the 16 MiB and the 256 MiB body side by side: a download that streams keeps the two apart by no
# more than its buffers.
#
# usage: bench/fetch.sh [ROUNDS]   (default 5; at least 5 for figures worth reporting)
# Builds: $LINUX_BUILD (build/linux, required), $WIN32_BUILD (build/win32), $WIN64_BUILD
# (build/win64); a Windows build without tools/vanto-fetch.exe, or without its Wine, is skipped.
# Targets: Linux <= 1.0 x curl in both modes, the i686 exe under WoW64 and the x86_64 exe under
# Wine <= 1.5 x curl; peak RSS of the Linux build <= 16 MiB for the 256 MiB body; under Wine, the
# peak for the 256 MiB body at most 8 MiB above the peak for the 16 MiB body; the information file
# < 5 ms natively.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
linux_fetch=${LINUX_BUILD:-$root/build/linux}/tools/vanto-fetch
win32_fetch=${WIN32_BUILD:-$root/build/win32}/tools/vanto-fetch.exe
win64_fetch=${WIN64_BUILD:-$root/build/win64}/tools/vanto-fetch.exe
wow64_wine=/usr/lib/x86_64-linux-gnu/wine
host_wine=/usr/lib/wine
timed=$root/bench/timed.py
[ -x "$linux_fetch" ] || { echo "no $linux_fetch: build the vanto-fetch target first" >&2; exit 2; }
for tool in curl nginx python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps)" >&2; exit 2; }
done

# Under the checkout, so that the WoW64 root (which sees the checkout at its own path) reaches it;
# the Wine prefixes are kept between runs, the served files are not.
bench=$root/build/bench
work=$bench/work
rm -rf "$work"
mkdir -p "$work/www" "$work/temp"
nginx_pid=
wow64_prefix=
host_prefix=
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  if [ -n "$wow64_prefix" ]; then
    "$root/scripts/wow64-root" run env WINEPREFIX="$wow64_prefix" "$wow64_wine/wineserver" -k \
      2>/dev/null || true
  fi
  if [ -n "$host_prefix" ]; then
    WINEPREFIX=$host_prefix "$host_wine/wineserver" -k 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

size_mib=256
small_mib=16
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/www/body.bin"
head -c $((small_mib * 1024 * 1024)) /dev/urandom >"$work/www/small.bin"
head -c 4096 /dev/urandom >"$work/www/info.ini"
: >"$work/www/empty"

# nginx cannot listen on port 0: a port the system just handed out is free enough.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
# One process (no master, no daemon) so that its PID is all there is to stop. Chunked: appending
# an empty file leaves nginx no length to announce, and reading the file in 1 MiB buffers instead
# of sending it whole makes chunks of that size.
cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/temp;
  proxy_temp_path $work/temp;
  fastcgi_temp_path $work/temp;
  uwsgi_temp_path $work/temp;
  scgi_temp_path $work/temp;
  types {}
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    location /chunked/ {
      alias $work/www/;
      addition_types *;
      add_after_body /empty;
      sendfile off;
      output_buffers 2 1m;
    }
    # The 256 MiB file as the body of a 404: a refused download is read to its end, not kept.
    location /refused/ {
      error_page 404 /body.bin;
      return 404;
    }
  }
}
EOF
nginx -c "$work/nginx.conf" -e "$work/nginx-error.log" &
nginx_pid=$!
base=http://127.0.0.1:$port
for _ in $(seq 50); do curl -sf -o /dev/null "$base/info.ini" && break; sleep 0.1; done
curl -sf -o /dev/null "$base/info.ini" || { cat "$work/nginx-error.log" >&2; exit 1; }
framing=$(curl -s -D - -o /dev/null "$base/chunked/info.ini" | tr -d '\r')
grep -qi '^transfer-encoding: chunked' <<<"$framing" || { echo "nginx sent no chunks" >&2; exit 1; }

# Clients: a name, then the command that fetches URL into PATH and prints "seconds peak_kib".
linux_client() { "$timed" "$linux_fetch" "$1" "$2"; }
curl_client() { "$timed" curl -s -o "$2" "$1"; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
win32_client() {
  "$root/scripts/wow64-root" run env WINEPREFIX="$wow64_prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml= python3 "$timed" "$wow64_wine/wine" "$win32_fetch" "$1" \
    "$(windows_path "$2")" 2>>"$bench/wine.log"
}
win64_client() {
  WINEPREFIX=$host_prefix WINELOADER=$host_wine/wine64 WINEDEBUG=-all \
    "$timed" "$host_wine/wine64" "$win64_fetch" "$1" "$(windows_path "$2")" 2>>"$bench/wine.log"
}

clients=(linux)
wow64_ready() {
  [ -f "$win32_fetch" ] && [ -x "$("$root/scripts/wow64-root" path)/usr/bin/apt-get" ] &&
    "$root/scripts/wow64-root" run python3 "$root/tools/wine_layer.py" runs-i686
}
if wow64_ready; then
  wow64_prefix=$bench/wow64-prefix
  # A server that stays up, as the system of a real Windows machine does; the first run also
  # makes the prefix.
  "$root/scripts/wow64-root" run env WINEPREFIX="$wow64_prefix" "$wow64_wine/wineserver" -p \
    >>"$bench/wine.log" 2>&1
  win32_client "$base/info.ini" "$work/warm.out" >/dev/null
  clients+=(win32)
else
  echo "win32: skipped (no $win32_fetch, no WoW64 root (scripts/wow64-root make), or a kernel" \
    "that runs no 32-bit code)"
fi
if [ -f "$win64_fetch" ] && [ -x "$host_wine/wine64" ]; then
  host_prefix=$bench/wine64-prefix
  WINEPREFIX=$host_prefix "$root/scripts/wine-prefix" >>"$bench/wine.log" 2>&1
  WINEPREFIX=$host_prefix "$host_wine/wineserver" -p >>"$bench/wine.log" 2>&1
  win64_client "$base/info.ini" "$work/warm.out" >/dev/null
  clients+=(win64)
else
  echo "win64: skipped (no $win64_fetch or no $host_wine/wine64)"
fi

# Median and spread of the numbers on stdin: "median lowest highest".
summary() { sort -g | awk '{ v[NR] = $1 } END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR] }'; }

# Runs every client and curl in turns for one path; "expected" is the file they must save.
# Leaves "client seconds kib" lines in $work/times.
measure_path() {
  local path=$1 expected=$2 round client out
  : >"$work/times"
  for client in "${clients[@]}" curl; do  # one uncounted round each: the system warms up
    "${client}_client" "$base/$path" "$work/$client.out" >/dev/null
  done
  for round in $(seq "$rounds"); do
    for client in "${clients[@]}"; do
      for out in "$client" curl; do
        read -r seconds kib < <("${out}_client" "$base/$path" "$work/$out.out")
        cmp -s "$work/$out.out" "$expected" || { echo "$out $path: body differs" >&2; exit 1; }
        rm -f "$work/$out.out"
        # curl is measured once per client per round, right beside it.
        echo "$out-$client $seconds $kib" >>"$work/times"
      done
    done
  done
}

seconds_of() { awk -v c="$1" '$1 == c { print $2 }' "$work/times" | summary; }
peak_of() { awk -v c="$1" '$1 == c && $3 > p { p = $3 } END { print p }' "$work/times"; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "ok" : "OVER") }'; }

declare -A large_peak=()
echo "nginx on $base, $size_mib MiB body, $rounds rounds; seconds: median (lowest-highest);" \
  "peak memory for the $small_mib MiB / $size_mib MiB body"
for mode in cl chunked; do
  prefix=
  [ "$mode" = cl ] || prefix=chunked/
  measure_path "${prefix}small.bin" "$work/www/small.bin"
  declare -A small_peak=()
  for client in "${clients[@]}"; do
    small_peak[$client]=$(peak_of "$client-$client")
    small_peak[curl-$client]=$(peak_of "curl-$client")
  done
  measure_path "${prefix}body.bin" "$work/www/body.bin"
  for client in "${clients[@]}"; do
    read -r vm vlo vhi < <(seconds_of "$client-$client")
    read -r cm clo chi < <(seconds_of "curl-$client")
    ratio=$(awk "BEGIN { printf \"%.2f\", $vm / $cm }")
    case $client in
      linux) target=1.0 ;;
      *) target=1.5 ;;
    esac
    small=${small_peak[$client]} large=$(peak_of "$client-$client")
    large_peak[$client]=$large
    if [ "$client" = linux ]; then
      memory_target="<= 16384 KiB $(verdict "$large" 16384)"
    else
      memory_target="+$((large - small)) KiB <= 8192 $(verdict $((large - small)) 8192)"
    fi
    printf '%-7s %-7s %.3f (%.3f-%.3f) curl %.3f (%.3f-%.3f) ratio %s (<= %s %s);' \
      "$mode" "$client" "$vm" "$vlo" "$vhi" "$cm" "$clo" "$chi" "$ratio" "$target" \
      "$(verdict "$ratio" "$target")"
    printf ' peak %s / %s KiB (%s), curl %s / %s KiB\n' "$small" "$large" "$memory_target" \
      "${small_peak[curl-$client]}" "$(peak_of "curl-$client")"
  done
done

# A refused status's body is read through the same buffer and dropped: its peak beside the 200's.
for client in "${clients[@]}"; do
  peak=0
  for round in $(seq "$rounds"); do
    read -r _ kib < <("${client}_client" "$base/refused/body.bin" "$work/$client.out" 2>/dev/null || true)
    [ ! -e "$work/$client.out" ] || { echo "$client: a 404 body was saved" >&2; exit 1; }
    [ "$kib" -le "$peak" ] || peak=$kib
  done
  printf 'refused %-7s peak %s KiB for the %s MiB body of a 404 (+%s KiB against the 200)\n' \
    "$client" "$peak" "$size_mib" "$((peak - large_peak[$client]))"
done

measure_path info.ini "$work/www/info.ini"
for client in "${clients[@]}"; do
  read -r vm vlo vhi < <(seconds_of "$client-$client")
  read -r cm _ _ < <(seconds_of "curl-$client")
  ms=$(awk "BEGIN { printf \"%.1f\", $vm * 1000 }")
  note=
  [ "$client" = linux ] && note=" (< 5 $(verdict "$ms" 4.999))"
  printf 'info    %-7s %s ms%s (%.1f-%.1f), curl %.1f ms\n' "$client" "$ms" "$note" \
    "$(awk "BEGIN { print $vlo * 1000 }")" "$(awk "BEGIN { print $vhi * 1000 }")" \
    "$(awk "BEGIN { print $cm * 1000 }")"
done
