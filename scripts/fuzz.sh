#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30), starting from
# the corpus kept in tests/fuzz/corpus/<target>/ together with the seeds and fixtures, and prints
# how many inputs each target ran without a finding.
#   scripts/fuzz.sh [SECONDS] [--update-corpus]
# --update-corpus merges what the run found (libFuzzer -merge=1, minimised against the seeds)
# into tests/fuzz/corpus/, which is committed so that fuzzing accumulates from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=30
update=0
for arg in "$@"; do
  case "$arg" in
    --update-corpus) update=1 ;;
    *[!0-9]* | "") echo "usage: scripts/fuzz.sh [SECONDS] [--update-corpus]" >&2; exit 2 ;;
    *) SECONDS_PER_TARGET=$arg ;;
  esac
done

# Longest input per target: enough for its structures, small enough to keep the corpus small.
max_len() {
  case "$1" in
    settings_fuzz) echo 2048 ;;
    dispatch_fuzz | ntfs_fuzz) echo 4096 ;;
    fat_fuzz) echo 32768 ;;  # exFAT's two boot regions alone take 12 KiB
    *) echo 16384 ;;
  esac
}
# Bytes of kept corpus per target; beyond it the largest inputs are dropped.
CORPUS_BUDGET=$((96 * 1024))

# The seeds of a target: its own seed folder, and for the carving fuzzer every carved sample.
copy_seeds() {
  local name=$1 into=$2
  local seeds=tests/fuzz/seeds/${name%_fuzz}
  [ -d "$seeds" ] && cp -r "$seeds"/. "$into"/
  if [ "$name" = dispatch_fuzz ]; then
    cp tests/fixtures/samples/* tests/fixtures/structured/* "$into"/ 2>/dev/null || true
    rm -f "$into"/README.md
  fi
  return 0
}

# Merges the inputs of `found` that add coverage into the kept corpus, minimised as a whole:
# what the seeds already cover is not kept twice.
update_corpus() {
  local target=$1 name=$2 kept=$3 found=$4 seeds=$5
  local merged
  merged=$(mktemp -d)
  cp -r "$seeds"/. "$merged"/
  "$target" -merge=1 -max_len="$(max_len "$name")" -rss_limit_mb=2048 "$merged" "$kept" "$found" \
    >"build-fuzz/$name.merge.log" 2>&1 || { tail -20 "build-fuzz/$name.merge.log"; exit 1; }
  (cd "$seeds" && find . -type f -exec rm -f "$merged/{}" \;)
  rm -rf "$kept" && mkdir -p "$kept"
  local total=0 size file
  while read -r size file; do
    total=$((total + size))
    [ "$total" -le "$CORPUS_BUDGET" ] || break
    cp "$file" "$kept"/
  done < <(find "$merged" -type f -printf '%s %p\n' | sort -n)
  rm -rf "$merged"
  echo "fuzz: $name corpus: $(find "$kept" -type f | wc -l) inputs, $(cat "$kept"/* 2>/dev/null | wc -c) bytes"
}

mkdir -p build-fuzz
# Line tables only: a finding's stack still names files and lines, at a fraction of the compile
# time of full debug information.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O1 -gline-tables-only" \
  -DCMAKE_C_FLAGS_RELEASE="-O1 -gline-tables-only" -DCMAKE_CXX_COMPILER=clang++ \
  -DKESTREL_FUZZ=ON -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_BENCH=OFF -DKESTREL_BUILD_GUI=OFF \
  >build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; exit 1; }
# The fuzz targets and the core they link, and the command line: the one clang build of the run,
# so clang's warnings on the core and kestrel-cli fail it too.
fuzz_targets=$(for source in tests/fuzz/*_fuzz.cpp; do basename "$source" .cpp; done)
# shellcheck disable=SC2086
ninja -C build-fuzz -j "$(nproc)" $fuzz_targets kestrel-cli
targets=$(find build-fuzz/tests/fuzz -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
for target in $targets; do
  name=$(basename "$target")
  kept=tests/fuzz/corpus/${name%_fuzz}
  mkdir -p "$kept"
  found=$(mktemp -d)
  seeds=$(mktemp -d)
  copy_seeds "$name" "$seeds"
  echo "fuzz: $name for ${SECONDS_PER_TARGET}s from $(find "$kept" -type f | wc -l) kept inputs"
  # New inputs go to the first folder; the kept corpus and the seeds are only read.
  "$target" -max_total_time="$SECONDS_PER_TARGET" -max_len="$(max_len "$name")" \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/$name-" \
    "$found" "$kept" "$seeds" >"build-fuzz/$name.log" 2>&1 || {
    tail -50 "build-fuzz/$name.log"
    exit 1
  }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/$name.log")
  echo "fuzz: $name clean after ${runs:-?} executions"
  [ "$update" -eq 1 ] && update_corpus "$target" "$name" "$kept" "$found" "$seeds"
  rm -rf "$found" "$seeds"
done
echo "fuzz: all targets clean"
