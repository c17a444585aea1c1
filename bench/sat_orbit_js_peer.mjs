// Reference propagator beside bench/sat_orbit_bench.cpp: satellite.js (npm, pinned by
// bench/sat_orbit_js/package-lock.json) over the same satellites (the verification element sets
// of python3-sgp4 that propagate without an error over the day after their epoch) and the same
// times (every 10 minutes from each epoch, 145 times).
// Usage: node sat_orbit_js_peer.mjs <folder with node_modules> <path of SGP4-VER.TLE> [seconds]
// Prints one line: "peer <propagations per second> satellites=<n>".
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';
import path from 'node:path';

const STEPS = 145;
const STEP_MINUTES = 10.0;

const [folder, tleFile, secondsArg] = process.argv.slice(2);
const seconds = Number(secondsArg ?? '2');
const require = createRequire(path.join(path.resolve(folder), 'package.json'));
const entry = require.resolve('satellite.js');
const satellite = await import(pathToFileURL(entry).href);

const lines = readFileSync(tleFile, 'latin1').split(/\r?\n/);
const sats = [];
for (let i = 0; i + 1 < lines.length; ++i) {
  const first = lines[i], second = lines[i + 1];
  if (!first.startsWith('1') || !second.startsWith('2')) continue;
  const satrec = satellite.twoline2satrec(first, second.slice(0, 69));
  let ok = satrec.error === 0;
  for (let k = 0; ok && k < STEPS; ++k) {
    const pv = satellite.sgp4(satrec, k * STEP_MINUTES);
    if (!pv || !pv.position || satrec.error !== 0) ok = false;
  }
  if (ok) sats.push(satrec);
}

let rounds = 0;
let sink = 0;
const start = process.hrtime.bigint();
let elapsed = 0;
for (;;) {
  for (const satrec of sats) {
    for (let k = 0; k < STEPS; ++k) {
      const pv = satellite.sgp4(satrec, k * STEP_MINUTES);
      sink += pv.position.x;
    }
  }
  ++rounds;
  elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  if (elapsed > seconds) break;
}
if (!Number.isFinite(sink)) console.error('non-finite position');
console.log(`peer ${(rounds * sats.length * STEPS / elapsed).toFixed(1)} satellites=${sats.length}`);
