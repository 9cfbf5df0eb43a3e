#!/usr/bin/env bash
# Builds the project twice (normal, and with AddressSanitizer + UBSan) and runs the tests of both.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
jobs="$(nproc)"
run_suite() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
run_suite "$root/build/normal"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite "$root/build/sanitize" -DFERRIX_SANITIZE=ON
