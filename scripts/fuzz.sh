#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds,
# seeded with the project's fixtures.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
mkdir -p build-fuzz
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKESTREL_FUZZ=ON -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_BENCH=OFF -DKESTREL_BUILD_GUI=OFF \
  > build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; exit 1; }
ninja -C build-fuzz -j "$(nproc)"
targets=$(find build-fuzz/tests/fuzz -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
for target in $targets; do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  seeds=tests/fuzz/seeds/${name%_fuzz}
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/ 2>/dev/null || true
  # The carving fuzzer starts from the sample files of every carved format.
  if [ "$name" = dispatch_fuzz ]; then
    cp tests/fixtures/samples/* tests/fixtures/structured/* "$corpus"/ 2>/dev/null || true
  fi
  echo "fuzz: $name for ${SECONDS_PER_TARGET}s"
  "$target" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" \
    > "build-fuzz/$name.log" 2>&1 || { tail -50 "build-fuzz/$name.log"; exit 1; }
  rm -rf "$corpus"
done
echo "fuzz: all targets clean"
