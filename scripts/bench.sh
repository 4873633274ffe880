#!/usr/bin/env bash
# Raw scan throughput on large images (zeros, random bytes, densely packed samples), and the
# same images through PhotoRec and foremost when they are installed.
#   bash scripts/bench.sh [SIZE_MB]      (default 1024)
set -euo pipefail
cd "$(dirname "$0")/.."
SIZE_MB=${1:-1024}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_TESTS=OFF > /dev/null
ninja -C build-bench kestrel_scan_bench kestrel-cli > /dev/null

work=${KESTREL_BENCH_DIR:-/tmp/kestrel-bench}
mkdir -p "$work"
work=$(cd "$work" && pwd)
zeros=$work/zeros.img
random=$work/random.img
dense=$work/dense.img
[ -s "$zeros" ] && [ "$(stat -c %s "$zeros")" -eq $((SIZE_MB << 20)) ] || truncate -s "${SIZE_MB}M" "$zeros"
[ -s "$random" ] && [ "$(stat -c %s "$random")" -eq $((SIZE_MB << 20)) ] ||
  head -c $((SIZE_MB << 20)) /dev/urandom > "$random"
if [ ! -s "$dense" ] || [ "$(stat -c %s "$dense")" -lt $((SIZE_MB << 20)) ]; then
  # One round of every sample, each at a sector boundary, repeated up to the size.
  round=$work/round.img
  : > "$round"
  for sample in tests/fixtures/samples/* tests/fixtures/structured/*; do
    case "$sample" in *.md|*.sh|*.py|*.gz) continue ;; esac
    cat "$sample" >> "$round"
    size=$(stat -c %s "$round"); truncate -s $(( (size + 511) / 512 * 512 )) "$round"
  done
  : > "$dense"
  while [ "$(stat -c %s "$dense")" -lt $((SIZE_MB << 20)) ]; do
    for _ in $(seq 64); do cat "$round"; done >> "$dense"
  done
fi

echo "== Kestrel raw scan (cached image, second pass timed)"
build-bench/bench/kestrel_scan_bench "$work/out" "$zeros" "$random" "$dense"

peer() {
  local name=$1; shift
  local out=$work/peer-$name
  rm -rf "$out"
  mkdir -p "$out"
  local start end
  start=$(date +%s%N)
  # Peers write their own logs (photorec.log) into the current folder: run them in the work one.
  (cd "$work" && "$@" > "$work/$name.log" 2>&1) || true
  end=$(date +%s%N)
  local files
  files=$(find "$out" -type f ! -name '*.txt' ! -name '*.html' 2>/dev/null | wc -l || true)
  printf '%-10s %-12s %8s ms %6d files\n' "$name" "$(basename "$image")" $(( (end - start) / 1000000 )) "$files"
}

for image in "$zeros" "$random" "$dense"; do
  if command -v photorec > /dev/null; then
    peer photorec photorec /log /d "$work/peer-photorec/r" /cmd "$image" options,paranoid_no,search
  fi
  if command -v foremost > /dev/null; then
    peer foremost foremost -Q -i "$image" -o "$work/peer-foremost"
  fi
  t0=$(date +%s%N)
  rm -rf "$work/cli-out"
  n=$(KESTREL_NO_DEVICES=1 KESTREL_REGISTRY=$work/registry.reg build-bench/kestrel-cli scan "$image" \
        --out "$work/cli-out" --types all --read-errors ignore-all | grep -c $'\t' || true)
  t1=$(date +%s%N)
  printf '%-10s %-12s %8s ms %6d files\n' kestrel "$(basename "$image")" $(( (t1 - t0) / 1000000 )) "$n"
done
