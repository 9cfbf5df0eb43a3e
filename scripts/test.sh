#!/usr/bin/env bash
# Builds and runs the test suite: a normal build, a Release build with its tests and a staged
# install, a build with AddressSanitizer and UBSan, the libFuzzer targets for a short fixed time
# each, and the thread tests under ThreadSanitizer. Every build treats warnings as errors.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
jobs="$(nproc)"
fuzz_seconds="${FERRIX_FUZZ_SECONDS:-20}"

# configure_and_build DIR BUILD_TYPE [CMAKE_ARGS...]
configure_and_build() {
  local dir="$1" type="$2"; shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DFERRIX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== normal build"
configure_and_build "$root/build/normal" Debug
ctest --test-dir "$root/build/normal" --output-on-failure -j "$jobs"

echo "== Release build, tests and staged install"
configure_and_build "$root/build/release" Release
ctest --test-dir "$root/build/release" --output-on-failure -j "$jobs"
stage="$root/build/release-stage"
rm -rf "$stage"
DESTDIR="$stage" cmake --install "$root/build/release" >/dev/null
"$root/scripts/check-install.sh" "$stage"

echo "== AddressSanitizer + UBSan build"
configure_and_build "$root/build/sanitize" Debug -DFERRIX_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build/sanitize" --output-on-failure -j "$jobs"


echo "== fuzz targets (${fuzz_seconds} s each)"
CC=clang CXX=clang++ configure_and_build "$root/build/fuzz" Debug -DFERRIX_FUZZ=ON
shopt -s nullglob
for src in "$root"/fuzz/*_fuzz.cpp; do
  name="$(basename "$src" .cpp)"
  corpus="$root/build/fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/seeds/$name" ] && seeds=("$root/fuzz/seeds/$name")
  echo "-- $name"
  "$root/build/fuzz/$name" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" 2>&1 | tail -n 3
done

echo "== ThreadSanitizer build (thread tests)"
configure_and_build "$root/build/tsan" Debug -DFERRIX_TSAN=ON
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$root/build/tsan" --output-on-failure -j "$jobs" -L tsan
