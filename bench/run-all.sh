#!/usr/bin/env bash
# Runs every benchmark of the plain build, each beside its peer where it has one (PROJ's cs2cs,
# GDAL, one-file-per-tile storage, nginx, python3-sgp4, plain OpenGL), and prints the ratios.
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
# Programs that run their peer in-process (or start it themselves) and print the ratio: every
# benchmark program, except those that a script below runs beside a peer in another process.
for program in "$build"/bench/*_bench; do
  [ -x "$program" ] || continue
  case "$(basename "$program")" in
    sat_orbit_bench|wmts_server_bench) continue ;;
  esac
  run "$program"
done
# Peers that run in another process.
run bash "$here/sat_orbit_vs_python.sh" "$build/bench/sat_orbit_bench"
run bash "$here/wmts_server_bench.sh" "$build/bench/wmts_server_bench"
run bash "$here/first_paint_bench.sh" "$build"
exit $status
