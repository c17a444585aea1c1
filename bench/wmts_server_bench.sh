#!/usr/bin/env bash
# The map publishing server beside nginx, in the same run: wrk asks each for one stored tile over
# kept-alive connections; nginx serves the same bytes as a static file. nginx is set up as a user
# would for static files on this machine: as many workers as our server has event loops
# (processors, at most 8) and open_file_cache on. Each row prints that fair ratio first; the
# second line gives the earlier, kinder comparison (nginx with 4 workers, no open_file_cache).
# Prints requests per second, p99 latency, errors and the ratios per connection count.
#
# plain: 1, 16, 64 and 256 connections.
# abuse: 64 and 256 connections while 500 slow clients (a header byte every 2 s, never finished)
#   and 100 idle kept-alive ones are held from 200 other loopback addresses, reconnecting when
#   closed; meanwhile a new client from its own address asks for the tile every 100 ms and must
#   be answered within 2 s. Also the resident memory of each server before, during and after.
# Goals: requests per second at least nginx's at 64 and 256 connections with and without abuse,
# p99 within twice nginx's, a new client answered in at least 99 % of its tries under abuse.
#
# Usage: bench/wmts_server_bench.sh [path to wmts_server_bench] [seconds per run] [plain|abuse|all]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/wmts_server_bench}"
seconds="${2:-5}"
mode="${3:-all}"
[ -x "$bench" ] || { echo "benchmark program not found: $bench (build target wmts_server_bench)" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is missing (apt-get install wrk)" >&2; exit 1; }
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
[ -x "$nginx_bin" ] || { echo "nginx is missing (apt-get install nginx-light)" >&2; exit 1; }

work="$(mktemp -d)"
chmod 755 "$work"  # nginx's workers run as another user
server_pid=""
abuse_pid=""
nginx_started=""
cleanup() {
  [ -n "$abuse_pid" ] && kill $abuse_pid 2>/dev/null && wait $abuse_pid 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  if [ -n "$nginx_started" ]; then
    for n in nginx nginx-old; do
      "$nginx_bin" -p "$work/$n" -c "$work/$n/nginx.conf" -e "$work/$n/error.log" -s quit 2>/dev/null || true
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A port below the system's ephemeral range (outgoing connections of other programs cannot take
# it before the server binds it) that is free now.
free_port() {
  /usr/bin/python3 -c '
import random, socket
for _ in range(200):
    p = random.randrange(20000, 32000)
    s = socket.socket()
    try:
        s.bind(("0.0.0.0", p)); print(p); break
    except OSError:
        pass
    finally:
        s.close()'
}
nginx_port="$(free_port)"
old_nginx_port="$(free_port)"
while [ "$old_nginx_port" = "$nginx_port" ]; do old_nginx_port="$(free_port)"; done
# Our server runs one event loop per processor, at most 8.
loops="$(nproc)"
[ "$loops" -gt 8 ] && loops=8

# Our server: its stdin is a pipe that stays open until the script ends. A port taken meanwhile
# is tried again with another.
mkfifo "$work/hold"
exec 9<> "$work/hold"
for attempt in 1 2 3; do
  ours_port="$(free_port)"
  rm -f "$work/serve.out"
  # shellcheck disable=SC2086
  "$bench" --serve="$ours_port" --dir="$work/ours" ${VELMORA_SERVE_ARGS:-} < "$work/hold" > "$work/serve.out" 2> "$work/serve.err" &
  server_pid=$!
  for _ in $(seq 1 200); do
    grep -q '^ready ' "$work/serve.out" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q '^ready ' "$work/serve.out" && break
  server_pid=""
  [ "$attempt" = 3 ] && { echo "the server did not start" >&2; cat "$work/serve.err" >&2; exit 1; }
done
tile_path="$(awk '/^ready /{print $2}' "$work/serve.out")"
tile_size="$(awk '/^ready /{print $3}' "$work/serve.out")"
chmod -R a+rX "$work/ours"

# nginx_conf NAME PORT WORKERS EXTRA: one nginx set-up serving the tile file.
nginx_conf() {
  local name="$1" port="$2" workers="$3" extra="$4" dir="$work/$1"
  mkdir -p "$dir/logs" "$dir/tmp"
  cat > "$dir/nginx.conf" <<EOF
worker_processes $workers;
worker_rlimit_nofile 20000;
pid $dir/nginx.pid;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  tcp_nodelay on;
  keepalive_requests 100000000;
  keepalive_timeout 120s;
  $extra
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  server {
    listen 127.0.0.1:$port;
    location = /tile.jpg { root $work/ours; default_type image/jpeg; }
  }
}
EOF
  "$nginx_bin" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log"
}
nginx_started=1
nginx_conf nginx "$nginx_port" "$loops" "open_file_cache max=1000 inactive=60s; open_file_cache_valid 60s;"
nginx_conf nginx-old "$old_nginx_port" 4 ""

check_size() {
  local got
  got="$(curl -s --noproxy '*' "$1" | wc -c)"
  [ "$got" = "$tile_size" ] || { echo "$2 answered $got bytes, not $tile_size" >&2; exit 1; }
}
check_size "http://127.0.0.1:$ours_port$tile_path" "velmora"
check_size "http://127.0.0.1:$nginx_port/tile.jpg" "nginx"
check_size "http://127.0.0.1:$old_nginx_port/tile.jpg" "nginx (4 workers)"

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

# Resident memory in MB of a process and its children (nginx: master and workers).
rss_mb() {
  local total=0 pid kb
  for pid in "$@" $(pgrep -P "$1" 2>/dev/null || true); do
    kb="$(awk '/^VmRSS:/{print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)"
    total=$(( total + ${kb:-0} ))
  done
  awk -v k="$total" 'BEGIN { printf "%.1f", k / 1024 }'
}
nginx_pid() { cat "$work/nginx/nginx.pid"; }  # the fair set-up

header() {
  printf '%-12s %14s %10s %7s   %14s %10s %7s   %6s %6s\n' connections "velmora req/s" "p99 ms" errors \
    "nginx req/s" "p99 ms" errors ratio "p99 x"
}
# One row: our server and the fair nginx at `c` connections; then, as a second line, the earlier
# comparison with nginx of 4 workers and no open_file_cache.
row() {
  local c="$1"
  read -r ours_rps ours_p99 ours_err <<<"$(run_wrk "$c" "http://127.0.0.1:$ours_port$tile_path")"
  read -r peer_rps peer_p99 peer_err <<<"$(run_wrk "$c" "http://127.0.0.1:$nginx_port/tile.jpg")"
  ratio="$(awk -v a="$ours_rps" -v b="$peer_rps" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
  p99x="$(awk -v a="$ours_p99" -v b="$peer_p99" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
  printf '%-12s %14s %10s %7s   %14s %10s %7s   %6s %6s\n' "$c" "$ours_rps" "$ours_p99" "$ours_err" \
    "$peer_rps" "$peer_p99" "$peer_err" "$ratio" "$p99x"
  if [ "${VELMORA_BENCH_OLD_PEER:-1}" = 1 ]; then
    read -r old_rps old_p99 old_err <<<"$(run_wrk "$c" "http://127.0.0.1:$old_nginx_port/tile.jpg")"
    printf '%-12s %14s %10s %7s   %14s %10s %7s   %6s %6s\n' "  (4 workers)" "" "" "" "$old_rps" "$old_p99" "$old_err" \
      "$(awk -v a="$ours_rps" -v b="$old_rps" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')" \
      "$(awk -v a="$ours_p99" -v b="$old_p99" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
  fi
}

# abuse_start NAME PORT PATH: the abuse against one server, held until abuse_stop NAME; its
# stdin is a pipe kept open through a descriptor of this shell.
declare -A abuse_fd abuse_pids
abuse_start() {
  local name="$1" port="$2" path="$3" fd
  mkfifo "$work/abuse.$name.hold"
  # The pipes of the other abusers are closed in this one, so that each sees its own end.
  (
    for other in "${abuse_fd[@]}"; do eval "exec $other>&-"; done
    exec "$bench" --abuse="$port" --path="$path" --slow=500 --idle=100 --probe-ms=100
  ) < "$work/abuse.$name.hold" > "$work/abuse.$name.out" 2>&1 &
  abuse_pids[$name]=$!
  abuse_pid="${abuse_pids[*]}"
  exec {fd}> "$work/abuse.$name.hold"
  abuse_fd[$name]=$fd
  for _ in $(seq 1 600); do
    grep -q 'held' "$work/abuse.$name.out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "$name: the abuse was not held in time: $(cat "$work/abuse.$name.out")" >&2
}
# abuse_stop NAME: ends it (not in a subshell: the pipe's descriptor is this shell's).
abuse_stop() {
  local name="$1" fd="${abuse_fd[$1]}"
  exec {fd}>&-
  wait "${abuse_pids[$name]}" 2>/dev/null || true
}
# abuse_result NAME: "answered tries p99" of its new clients.
abuse_result() { awk '/^probes /{ print $4, $2, $8 }' "$work/abuse.$1.out"; }

echo "tile: $tile_size bytes; $seconds s per run; $(nproc) CPUs; nginx with $loops workers and open_file_cache" \
  "(our event loops: $loops); second lines: nginx with 4 workers, no open_file_cache (VELMORA_BENCH_OLD_PEER=0 leaves them out)"
if [ "$mode" = plain ] || [ "$mode" = all ]; then
  echo
  echo "plain"
  header
  for c in 1 16 64 256; do row "$c"; done
fi
if [ "$mode" = abuse ] || [ "$mode" = all ]; then
  echo
  echo "abuse: 500 slow and 100 idle connections held, a new client every 100 ms"
  ours_before="$(rss_mb "$server_pid")"
  peer_before="$(rss_mb "$(nginx_pid)")"
  # Both servers are abused at once, so that wrk finds the machine equally loaded for both.
  abuse_start ours "$ours_port" "$tile_path"
  abuse_start nginx "$nginx_port" "/tile.jpg"
  header
  for c in 64 256; do row "$c"; done
  ours_during="$(rss_mb "$server_pid")"
  peer_during="$(rss_mb "$(nginx_pid)")"
  abuse_stop ours
  abuse_stop nginx
  abuse_pid=""
  read -r ours_ok ours_tries ours_probe_p99 <<<"$(abuse_result ours)"
  read -r peer_ok peer_tries peer_probe_p99 <<<"$(abuse_result nginx)"
  sleep 2
  ours_after="$(rss_mb "$server_pid")"
  peer_after="$(rss_mb "$(nginx_pid)")"
  pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? 100 * a / b : 0) }'; }
  echo "new client answered: velmora $ours_ok/$ours_tries ($(pct "$ours_ok" "$ours_tries") %, p99 $ours_probe_p99 ms)," \
       "nginx $peer_ok/$peer_tries ($(pct "$peer_ok" "$peer_tries") %, p99 $peer_probe_p99 ms)"
  echo "resident MB before/during/after: velmora $ours_before/$ours_during/$ours_after," \
       "nginx $peer_before/$peer_during/$peer_after"
fi
