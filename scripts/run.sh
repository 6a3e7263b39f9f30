#!/usr/bin/env bash
# Installs what is needed, builds the program and starts it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPELLORA_TESTS=OFF -DPELLORA_BENCH=OFF >/dev/null
cmake --build "$top/build/release" --target pellora-update pellora-devsim pellora-mkda
exec "$top/build/release/app/pellora-update" "$@"
