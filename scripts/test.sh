#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors under AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs every test offscreen.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/deps.sh"
build="$top/build/test"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPELLORA_WERROR=ON -DPELLORA_SANITIZE=ON -DPELLORA_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=0"
# The sanitizers split their options at spaces and colons, so the path goes in
# double quotes; a path that holds one is read from a copy instead.
suppressions="$top/tests/lsan.supp"
if [[ "$suppressions" == *'"'* ]]; then
  suppressions="$(mktemp)"
  trap 'rm -f "$suppressions"' EXIT
  cp "$top/tests/lsan.supp" "$suppressions"
fi
export LSAN_OPTIONS="suppressions=\"$suppressions\":print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
# Parameterised tests name their parameters; a raw byte dump means a printer is missing.
listed="$(ctest -N)"
if grep -q "byte object" <<<"$listed"; then
  echo "A parameterised test prints its parameter as bytes: give it a PrintTo or a name generator." >&2
  grep "byte object" <<<"$listed" >&2
  exit 1
fi
ctest --output-on-failure -j "$(nproc)" --timeout 300
