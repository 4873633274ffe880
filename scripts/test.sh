#!/usr/bin/env bash
# Builds Kestrel and runs every test: a normal build, then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
export KESTREL_NO_DEVICES=1

build_and_test() {
  local dir=$1; shift
  mkdir -p "$dir"
  # Optimised, without debug information: it only slows the build down.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" "$@" > "$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; exit 1; }
  ninja -C "$dir" -j "$JOBS"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS")
}

echo "== build and test"
build_and_test build
echo "== build and test with AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-sanitize -DKESTREL_SANITIZE=ON -DKESTREL_BUILD_BENCH=OFF

echo "== fuzzing"
bash scripts/fuzz.sh "${KESTREL_FUZZ_SECONDS:-20}"
