#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while:
#   fuzz/run.sh [build folder (build-fuzz)] [seconds per target (60)] [target name filter]
# Each target starts from its seed corpus (fuzz/corpus/<target>/, only read) and the inputs it
# found before (<build>/fuzz-corpus/<target>/, where new inputs go). A crashing input is kept as
# <build>/fuzz-artifacts/<target>/crash-...; replay it with <build>/fuzz/<target> <file>, or add
# it to the seed corpus once the fault is mended so that `make test` replays it for good.
set -uo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
filter=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
failed=()
ran=0
for target in "$build"/fuzz/*_fuzzer; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  if [ -n "$filter" ] && [[ "$name" != *"$filter"* ]]; then continue; fi
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name/"
  mkdir -p "$corpus" "$artifacts"
  echo "== $name: ${seconds} s"
  if ! "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$artifacts" "$corpus" "$root/fuzz/corpus/$name" 2>"$build/fuzz-$name.log"; then
    failed+=("$name")
    tail -n 40 "$build/fuzz-$name.log"
  else
    grep -E "^stat::(number_of_executed_units|new_units_added)|^#[0-9]+ +DONE" "$build/fuzz-$name.log" | tr '\n' ' '
    echo
  fi
  ran=$((ran + 1))
done
if [ "$ran" -eq 0 ]; then
  echo "fuzz: no targets in $build/fuzz (configure with -DVELMORA_FUZZ=ON and build first)"
  exit 2
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: faults found by ${failed[*]} (inputs under $build/fuzz-artifacts/)"
  exit 1
fi
echo "fuzz: $ran targets ran without a fault"
