#!/usr/bin/env bash
# Kestrel's main job on built-in samples: lists the sources, then recovers files from a disk
# image by signature (sample files laid among zeros and random bytes) and the deleted files of
# a FAT32 image made with mkfs.fat and mtools. Everything lands in out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
ninja -C build kestrel-cli > /dev/null

demo=out/demo
rm -rf "$demo"
mkdir -p "$demo"
export KESTREL_NO_DEVICES=1
export KESTREL_REGISTRY=$PWD/$demo/registry.reg

# A disk image: each sample at a sector boundary, with zeros and random bytes between them.
image=$demo/samples.img
: > "$image"
pad_to_sector() { local size; size=$(stat -c %s "$image"); truncate -s $(( (size + 511) / 512 * 512 )) "$image"; }
for sample in tests/fixtures/samples/* tests/fixtures/structured/*; do
  case "$sample" in *.md|*.gz|*.sh) continue ;; esac
  head -c 4096 /dev/zero >> "$image"
  cat "$sample" >> "$image"
  pad_to_sector
  # Random bytes whose sectors start with a harmless mark, so they start no file.
  for _ in 1 2; do printf 'RANDOMxx' >> "$image"; head -c 504 /dev/urandom >> "$image"; done
done
head -c 65536 /dev/zero >> "$image"

# A FAT32 volume with files written and then deleted.
fat=$demo/fat32.img
truncate -s 64M "$fat"
mkfs.fat -F 32 -n KESTRELDEMO "$fat" > /dev/null
export MTOOLS_SKIP_CHECK=1
for sample in tests/fixtures/samples/*.jpg tests/fixtures/samples/*.png tests/fixtures/samples/*.pdf; do
  [ -e "$sample" ] || continue
  mcopy -i "$fat" "$sample" "::/$(basename "$sample")"
done
mmd -i "$fat" ::/Holiday
[ -e tests/fixtures/samples/exif.jpg ] && mcopy -i "$fat" tests/fixtures/samples/exif.jpg "::/Holiday/Beach photo.jpg"
mdel -i "$fat" '::/*.*' 2>/dev/null || true
mdeltree -i "$fat" ::/Holiday 2>/dev/null || true

printf 'disk %s\nF: %s\n' "$PWD/$image" "$PWD/$fat" > "$demo/devices.conf"
export KESTREL_DEVICES=$PWD/$demo/devices.conf

echo "== kestrel-cli sources"
build/kestrel-cli sources
echo
echo "== kestrel-cli scan disk0 (recover files from partition/disk)"
build/kestrel-cli scan disk0 --out "$demo/recovered" --types all
echo
echo "== kestrel-cli deleted F: (recover deleted files)"
build/kestrel-cli deleted F: --out "$demo/recovered" --types all
echo
echo "Recovered files are in $demo/recovered/"
