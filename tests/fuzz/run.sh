#!/usr/bin/env bash
# Runs one fuzz target for a fixed count of inputs: first every checked-in
# input (seeds and the inputs of crashes found before), then new ones from a
# fixed seed. New inputs and any crash go to a fresh work folder.
# Usage: run.sh TARGET SEED_FOLDER WORK_FOLDER RUNS
set -euo pipefail
target="$1" seeds="$2" work="$3" runs="$4"
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$target" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$seeds"
