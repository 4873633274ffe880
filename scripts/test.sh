#!/usr/bin/env bash
# Builds Kestrel and runs every test: a normal build, then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
# Prints how long the run has taken so far, so a slow stage shows in the log.
elapsed() { echo "== $1 after $((SECONDS / 60)) min $((SECONDS % 60)) s"; }
export KESTREL_NO_DEVICES=1

configure() {
  local dir=$1; shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" > "$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; exit 1; }
}

build_and_test() {
  local dir=$1; shift
  configure "$dir" "$@"
  ninja -C "$dir" -j "$JOBS"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS")
}

# The Release build with the project's default options (warnings as errors), as a user builds it.
echo "== build and test"
build_and_test build
elapsed "built and tested"
echo "== build and test the core with AddressSanitizer + UndefinedBehaviorSanitizer"
# Optimised, without debug information: it only slows the build down. The window and its tests
# (a quarter of this build's compile time) run in the build above; here the core and the command
# line, which every front end shares, are checked.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-sanitize -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DKESTREL_SANITIZE=ON -DKESTREL_BUILD_BENCH=OFF \
  -DKESTREL_BUILD_GUI=OFF

elapsed "sanitizer run done"
echo "== fuzzing (with clang, which also builds kestrel-cli so its warnings fail the run)"
bash scripts/fuzz.sh "${KESTREL_FUZZ_SECONDS:-10}"
elapsed "fuzzing done"
