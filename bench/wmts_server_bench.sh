#!/usr/bin/env bash
# The map publishing server beside nginx, in the same run: wrk asks each for one stored tile over
# kept-alive connections (1, 16, 64 and 256 connections); nginx serves the same bytes as a static
# file. Prints requests per second, p99 latency, errors and the ratio per connection count.
# Goal: at 64 connections at least half of nginx's requests per second, p99 under 10 ms, no errors.
#
# Usage: bench/wmts_server_bench.sh [path to wmts_server_bench] [seconds per run]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/wmts_server_bench}"
seconds="${2:-5}"
[ -x "$bench" ] || { echo "benchmark program not found: $bench (build target wmts_server_bench)" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is missing (apt-get install wrk)" >&2; exit 1; }
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
[ -x "$nginx_bin" ] || { echo "nginx is missing (apt-get install nginx-light)" >&2; exit 1; }

work="$(mktemp -d)"
chmod 755 "$work"  # nginx's workers run as another user
server_pid=""
nginx_started=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [ -n "$nginx_started" ] && "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" -s quit 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
ours_port="$(free_port)"
nginx_port="$(free_port)"

# Our server: its stdin is a pipe that stays open until the script ends.
mkfifo "$work/hold"
"$bench" --serve="$ours_port" --dir="$work/ours" < "$work/hold" > "$work/serve.out" 2> "$work/serve.err" &
server_pid=$!
exec 9> "$work/hold"
for _ in $(seq 1 200); do
  grep -q '^ready ' "$work/serve.out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/serve.err" >&2; exit 1; }
  sleep 0.05
done
grep -q '^ready ' "$work/serve.out" || { echo "the server did not start" >&2; cat "$work/serve.err" >&2; exit 1; }
tile_path="$(awk '/^ready /{print $2}' "$work/serve.out")"
tile_size="$(awk '/^ready /{print $3}' "$work/serve.out")"
chmod -R a+rX "$work/ours"

mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
cat > "$work/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $work/nginx/nginx.pid;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  tcp_nodelay on;
  keepalive_requests 100000000;
  keepalive_timeout 120s;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  server {
    listen 127.0.0.1:$nginx_port;
    location = /tile.jpg { root $work/ours; default_type image/jpeg; }
  }
}
EOF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log"
nginx_started=1

check_size() {
  local got
  got="$(curl -s --noproxy '*' "$1" | wc -c)"
  [ "$got" = "$tile_size" ] || { echo "$2 answered $got bytes, not $tile_size" >&2; exit 1; }
}
check_size "http://127.0.0.1:$ours_port$tile_path" "velmora"
check_size "http://127.0.0.1:$nginx_port/tile.jpg" "nginx"

# wrk's summary -> "requests/s p99(ms) errors"
run_wrk() {
  local connections="$1" url="$2" threads out
  threads=$(( connections < 8 ? connections : 8 ))
  out="$(wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$url")"
  printf '%s\n' "$out" | /usr/bin/python3 -c '
import re, sys
text = sys.stdin.read()
def ms(v, unit):
    return float(v) * {"us": 0.001, "ms": 1.0, "s": 1000.0, "m": 60000.0}[unit]
rps = float(re.search(r"Requests/sec:\s+([\d.]+)", text).group(1))
p99 = re.search(r"99%\s+([\d.]+)(us|ms|s|m)\b", text)
errors = 0
m = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", text)
if m: errors += sum(int(x) for x in m.groups())
m = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
if m: errors += int(m.group(1))
print("%.0f %.3f %d" % (rps, ms(*p99.groups()) if p99 else -1, errors))'
}

echo "tile: $tile_size bytes; $seconds s per run; $(nproc) CPUs"
printf '%-12s %14s %10s %7s   %14s %10s %7s   %6s\n' connections "velmora req/s" "p99 ms" errors "nginx req/s" "p99 ms" errors ratio
for c in 1 16 64 256; do
  read -r ours_rps ours_p99 ours_err <<<"$(run_wrk "$c" "http://127.0.0.1:$ours_port$tile_path")"
  read -r peer_rps peer_p99 peer_err <<<"$(run_wrk "$c" "http://127.0.0.1:$nginx_port/tile.jpg")"
  ratio="$(awk -v a="$ours_rps" -v b="$peer_rps" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
  printf '%-12s %14s %10s %7s   %14s %10s %7s   %6s\n' "$c" "$ours_rps" "$ours_p99" "$ours_err" "$peer_rps" "$peer_p99" "$peer_err" "$ratio"
done
