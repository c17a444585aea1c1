#!/usr/bin/env bash
# Start-up to the first painted main window: the velmora program (its whole start-up: profile,
# options, catalogue, tile manager, main frame) beside a bare Qt program that shows an empty
# QMainWindow, both on Qt's offscreen platform, alternating, several runs each. Each program
# prints the monotonic time of its window's first paint; the time counts from just before exec.
# Prints both medians and their ratio; the goal is at most 2x the bare window.
# Measured (docs/architecture.md, front end, "Where the start-up goes"): 6.4x with Qt WebEngine
# linked into the program (131 libraries at start); 4.6-4.9x since the web views are a module
# loaded by the first view that people see (96 libraries). About half of what remains is the
# dynamic loader (libcurl and PROJ alone pull in some 30 libraries Qt does not), then fonts, the
# tile store and catalogue, the hidden script window and the frame itself.
# Usage: bench/first_paint_bench.sh [build folder] [runs]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
runs="${2:-9}"
velmora="$build/src/app/velmora"
bare="$build/bench/bare_qt_window"
for p in "$velmora" "$bare"; do
  [ -x "$p" ] || { echo "missing $p (build the velmora and bare_qt_window targets)"; exit 1; }
done
python3 - "$velmora" "$bare" "$runs" <<'PY'
import atexit, os, shutil, statistics, subprocess, sys, tempfile, time

velmora, bare, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
folder = tempfile.mkdtemp(prefix="velmora-first-paint-")
# The data and config folders the runs fill (tens of MB) go when the script ends, however it ends.
atexit.register(shutil.rmtree, folder, True)
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VELMORA_REPORT_FIRST_PAINT="1",
           VELMORA_DATA_DIR=os.path.join(folder, "data") + "/", VELMORA_CONFIG_DIR=os.path.join(folder, "config"))
env.pop("DISPLAY", None)
env.pop("WAYLAND_DISPLAY", None)

def once(program):
    start = time.monotonic_ns()  # CLOCK_MONOTONIC, the clock the programs print
    out = subprocess.run([program], env=env, capture_output=True, text=True, timeout=60)
    for line in out.stdout.splitlines():
        if line.startswith("first-paint-ns "):
            return (int(line.split()[1]) - start) / 1e6
    raise SystemExit(f"{program} printed no first paint (exit {out.returncode}):\n{out.stderr[-2000:]}")

once(velmora); once(bare)  # the first runs fill the page cache and the data folder
times = {"velmora": [], "bare": []}
for _ in range(runs):
    times["velmora"].append(once(velmora))
    times["bare"].append(once(bare))
v, b = statistics.median(times["velmora"]), statistics.median(times["bare"])
print(f"first painted main window, median of {runs} runs (offscreen platform):")
print(f"  velmora            {v:8.1f} ms   (min {min(times['velmora']):.1f}, max {max(times['velmora']):.1f})")
print(f"  bare QMainWindow   {b:8.1f} ms   (min {min(times['bare']):.1f}, max {max(times['bare']):.1f})")
print(f"  ratio              {v / b:8.2f}x   (goal: at most 2x)")
PY
