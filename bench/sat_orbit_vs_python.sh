#!/usr/bin/env bash
# Propagations per second of the orbit model beside python3-sgp4's SatrecArray.sgp4 on the same
# satellites and times, in the same run; prints the ratio.
# Usage: bench/sat_orbit_vs_python.sh [path to sat_orbit_bench]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/sat_orbit_bench}"
[ -x "$bench" ] || { echo "benchmark program not found: $bench (build target sat_orbit_bench)" >&2; exit 1; }

ours_json="$("$bench" --benchmark_filter='^BM_PropagateMix$' --benchmark_format=json --benchmark_min_time=2)"
ours="$(printf '%s' "$ours_json" | /usr/bin/python3 -c 'import json,sys; b=json.load(sys.stdin)["benchmarks"][0]; print("%.1f %d" % (b["items_per_second"], b["satellites"]))')"
peer="$(/usr/bin/python3 "$here/sat_orbit_python_peer.py" 2)"

read -r ours_rate ours_sats <<<"$ours"
peer_rate="$(awk '{print $2}' <<<"$peer")"
peer_sats="$(sed -n 's/.*satellites=\([0-9]*\).*/\1/p' <<<"$peer")"
accelerated="$(sed -n 's/.*accelerated=\(\w*\).*/\1/p' <<<"$peer")"
echo "velmora CSatOrbit:       $ours_rate propagations/s ($ours_sats satellites)"
echo "python3-sgp4 SatrecArray: $peer_rate propagations/s ($peer_sats satellites, compiled: $accelerated)"
if [ "$ours_sats" != "$peer_sats" ]; then echo "warning: the two picked different satellite mixes" >&2; fi
awk -v a="$ours_rate" -v b="$peer_rate" 'BEGIN { printf "ratio (velmora / python3-sgp4): %.1f\n", a / b }'
