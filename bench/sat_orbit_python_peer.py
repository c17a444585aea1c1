#!/usr/bin/python3
"""Reference propagator beside bench/sat_orbit_bench.cpp: python3-sgp4's SatrecArray.sgp4 over
the same satellites (the verification element sets that propagate without an error over the
day after their epoch) and the same times (every 10 minutes from each epoch, 145 times).
Prints one line: "peer <propagations per second> satellites=<n> accelerated=<bool>"."""
import os
import sys
import time

import numpy as np
from sgp4 import api
from sgp4.api import Satrec, SatrecArray

STEPS = 145
STEP_MINUTES = 10.0


def main():
    folder = os.environ.get('VELMORA_SGP4_DIR', os.path.dirname(api.__file__))
    with open(os.path.join(folder, 'SGP4-VER.TLE')) as f:
        lines = [line.rstrip('\r\n') for line in f]
    offsets = np.arange(STEPS) * STEP_MINUTES / 1440.0
    sats = []
    for previous, line in zip(lines, lines[1:]):
        if previous.startswith('1') and line.startswith('2'):
            sat = Satrec.twoline2rv(previous, line[:69])
            e, _, _ = SatrecArray([sat]).sgp4(np.full(STEPS, sat.jdsatepoch),
                                               sat.jdsatepochF + offsets)
            if not e.any():
                sats.append(sat)
    # Each satellite has its own epoch: one array call per satellite, as the C++ loop does.
    calls = [(SatrecArray([s]), np.full(STEPS, s.jdsatepoch), s.jdsatepochF + offsets)
             for s in sats]
    rounds = 0
    start = time.perf_counter()
    while True:
        for array, jd, fr in calls:
            array.sgp4(jd, fr)
        rounds += 1
        elapsed = time.perf_counter() - start
        if elapsed > float(sys.argv[1] if len(sys.argv) > 1 else 2.0):
            break
    rate = rounds * len(sats) * STEPS / elapsed
    print('peer %.1f satellites=%d accelerated=%s' % (rate, len(sats), api.accelerated))


if __name__ == '__main__':
    main()
