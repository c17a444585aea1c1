#!/usr/bin/env bash
# Runs every benchmark of the plain build, each beside its peer where it has one (PROJ's cs2cs,
# GDAL, one-file-per-tile storage, nginx, python3-sgp4), and prints the ratios.
# Usage: bench/run-all.sh [build folder]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
status=0
run() {
  echo
  echo "=== $* ==="
  "$@" || { echo "*** $1 failed"; status=1; }
}
# Programs that run their peer in-process (or start it themselves) and print the ratio.
for name in projection_bench contour_bench elevation_bench tile_store_bench tile_manager_bench \
            imaging_bench io_bench ui_dispatcher_bench address_search_bench html_wnd_bench; do
  [ -x "$build/bench/$name" ] && run "$build/bench/$name"
done
# Peers that run in another process.
run bash "$here/sat_orbit_vs_python.sh" "$build/bench/sat_orbit_bench"
run bash "$here/wmts_server_bench.sh" "$build/bench/wmts_server_bench"
exit $status
