#!/usr/bin/env bash
# Propagations per second of the orbit model beside two reference propagators on the same
# satellites and times, in the same run. First (the fair comparison): satellite.js from npm,
# pinned by bench/sat_orbit_js/package-lock.json and installed beside the benchmark program with
# `npm ci` on first use, run by node's JIT. Second: python3-sgp4's SatrecArray.sgp4; Debian's
# python3-sgp4 is the uncompiled pure-Python build (the line says "compiled: False"), so that
# ratio flatters us and is kept only for comparison with earlier runs.
# Usage: bench/sat_orbit_vs_python.sh [path to sat_orbit_bench]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/sat_orbit_bench}"
[ -x "$bench" ] || { echo "benchmark program not found: $bench (build target sat_orbit_bench)" >&2; exit 1; }
tle="$(/usr/bin/python3 -c 'import os, sgp4.api; print(os.path.join(os.path.dirname(sgp4.api.__file__), "SGP4-VER.TLE"))')"

ours_json="$("$bench" --benchmark_filter='^BM_PropagateMix$' --benchmark_format=json --benchmark_min_time=2)"
ours="$(printf '%s' "$ours_json" | /usr/bin/python3 -c 'import json,sys; b=json.load(sys.stdin)["benchmarks"][0]; print("%.1f %d" % (b["items_per_second"], b["satellites"]))')"
read -r ours_rate ours_sats <<<"$ours"
echo "velmora CSatOrbit:         $ours_rate propagations/s ($ours_sats satellites)"

# satellite.js, installed once from the lock file beside the benchmark program.
js_dir="$(cd "$(dirname "$bench")" && pwd)/sat_orbit_js"
if command -v node >/dev/null && command -v npm >/dev/null; then
  if [ ! -f "$js_dir/node_modules/satellite.js/package.json" ] ||
     ! cmp -s "$here/sat_orbit_js/package-lock.json" "$js_dir/package-lock.json"; then
    mkdir -p "$js_dir"
    cp "$here/sat_orbit_js/package.json" "$here/sat_orbit_js/package-lock.json" "$js_dir/"
    (cd "$js_dir" && npm ci --ignore-scripts --no-audit --no-fund --silent)
  fi
  js="$(node "$here/sat_orbit_js_peer.mjs" "$js_dir" "$tle" 2)"
  js_rate="$(awk '{print $2}' <<<"$js")"
  js_sats="$(sed -n 's/.*satellites=\([0-9]*\).*/\1/p' <<<"$js")"
  echo "satellite.js $(node -p "require('$js_dir/node_modules/satellite.js/package.json').version") (node $(node --version)): $js_rate propagations/s ($js_sats satellites)"
  if [ "$ours_sats" != "$js_sats" ]; then echo "warning: velmora and satellite.js picked different satellite mixes" >&2; fi
  awk -v a="$ours_rate" -v b="$js_rate" 'BEGIN { printf "ratio (velmora / satellite.js): %.1f\n", a / b }'
else
  echo "node and npm are missing (apt-get install nodejs npm): no satellite.js comparison"
fi

peer="$(/usr/bin/python3 "$here/sat_orbit_python_peer.py" 2)"
peer_rate="$(awk '{print $2}' <<<"$peer")"
peer_sats="$(sed -n 's/.*satellites=\([0-9]*\).*/\1/p' <<<"$peer")"
accelerated="$(sed -n 's/.*accelerated=\(\w*\).*/\1/p' <<<"$peer")"
echo "python3-sgp4 SatrecArray:  $peer_rate propagations/s ($peer_sats satellites, compiled: $accelerated$([ "$accelerated" = False ] && echo ', the pure-Python build'))"
if [ "$ours_sats" != "$peer_sats" ]; then echo "warning: the two picked different satellite mixes" >&2; fi
awk -v a="$ours_rate" -v b="$peer_rate" 'BEGIN { printf "ratio (velmora / python3-sgp4, second line only): %.1f\n", a / b }'
