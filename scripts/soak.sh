#!/usr/bin/env bash
# Long run (not part of CI): scans a sparse image of SIZE_GIB GiB (default 64) served through
# the FUSE image server, with a picture planted every PLANT_GIB GiB (default 4) and a sector that
# fails with EIO at every GiB, answered Ignore All. Checks that every planted picture comes back
# exact and reports the run time, the peak RSS (/usr/bin/time -v) and the RSS seen during the
# run, which must stay flat. Needs root (or fusermount3) and /dev/fuse.
#   scripts/soak.sh [SIZE_GIB] [PLANT_GIB]
set -euo pipefail
cd "$(dirname "$0")/.."
SIZE_GIB=${1:-64}
PLANT_GIB=${2:-4}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} KESTREL_NO_DEVICES=1
[ -d build ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build kestrel-cli eio_image_fs >/dev/null
work=$(mktemp -d "${SOAK_DIR:-/var/tmp}/kestrel-soak-XXXXXX")
server=""
cleanup() {
  mountpoint -q "$work/mnt" && { fusermount3 -u "$work/mnt" 2>/dev/null || umount "$work/mnt"; }
  [ -n "$server" ] && wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The sparse image and its pictures: PNG header, random bytes that hold no end marker, IEND.
python3 - "$work" "$SIZE_GIB" "$PLANT_GIB" tests/fixtures/samples/picture.png <<'PY'
import hashlib, os, random, sys
work, size_gib, plant_gib, sample = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
png = open(sample, 'rb').read()
gib = 1 << 30
with open(os.path.join(work, 'soak.img'), 'wb') as image, \
     open(os.path.join(work, 'planted.txt'), 'w') as listing:
    image.truncate(size_gib * gib)
    rng = random.Random(7)
    high = bytes(0x80 + b % 127 for b in range(256))
    for at in range(plant_gib, size_gib, plant_gib):
        body = rng.randbytes(rng.randrange(200000, 2000000)).translate(high)
        picture = png[:33] + body + png[-12:]
        image.seek(at * gib - gib // 2)
        image.write(picture)
        listing.write(hashlib.sha256(picture).hexdigest() + '\n')
PY
bad=()
for ((g = 1; g < SIZE_GIB; g++)); do bad+=(--bad "$((g * 2097152 + 100)):1"); done
mkdir "$work/mnt"
build/tests/eio_image_fs "$work/soak.img" "$work/mnt" --direct-io "${bad[@]}" >"$work/fuse.log" 2>&1 &
server=$!
for _ in $(seq 200); do mountpoint -q "$work/mnt" && break; sleep 0.05; done
mountpoint -q "$work/mnt" || { cat "$work/fuse.log"; exit 1; }

echo "soak: scanning $SIZE_GIB GiB, $(wc -l <"$work/planted.txt") pictures, $((SIZE_GIB - 1)) bad sectors"
KESTREL_REGISTRY="$work/registry.reg" KESTREL_DEVICES="$work/devices.conf" \
  /usr/bin/time -v -o "$work/time.txt" build/kestrel-cli scan "$work/mnt/image" --types png \
  --out "$work/out" --read-errors ignore-all >"$work/scan.txt" 2>"$work/scan.err" &
scan=$!
# RSS of the scan every 5 s: a leak shows as growth between the samples.
rss=()
while kill -0 "$scan" 2>/dev/null; do
  pid=$(pgrep -P "$scan" kestrel-cli || true)
  [ -n "$pid" ] && rss+=("$(awk '/VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)")
  sleep 5
done
wait "$scan" || { cat "$work/scan.err"; echo "soak: the scan failed"; exit 1; }

missing=0
found=$(find "$work/out" -name 'KES*.PNG' -exec sha256sum {} + | cut -d' ' -f1 | sort)
while read -r sum; do grep -qx "$sum" <<<"$found" || missing=$((missing + 1)); done <"$work/planted.txt"
elapsed=$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$work/time.txt")
peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
echo "soak: time $elapsed, peak RSS ${peak} KiB, RSS samples (KiB): ${rss[*]:-none}"
echo "soak: $(wc -l <"$work/planted.txt") planted, $missing missing, $(wc -l <<<"$found") recovered"
[ "$missing" -eq 0 ] || { echo "soak: FAILED"; exit 1; }
echo "soak: passed"
