#!/usr/bin/env bash
# Makes the seed volumes of fat_fuzz with mkfs.fat and mtools: small FAT12 and FAT16 volumes
# and a FAT32 volume cut down to its first clusters (its FAT size field shrunk to one sector so
# that the data region follows at once), each with live and deleted files and folders; and
# exFAT volumes made by mkfs.exfat with the FAT right after the boot regions and 512-byte
# clusters, written through exfat-fuse (needs root and a loop device), cut to their first
# 32 KiB and 24 KiB.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/seeds/fat
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
mkdir -p "$out"
head -c 3000 /dev/urandom >"$work/data"

populate() {
  mmd -i "$1" ::/DCIM ::/DCIM/100CANON ::/RECYCLED ::/RECYCLED/DC1 ::/Trip
  mcopy -i "$1" "$work/data" "::/DCIM/100CANON/IMG_0001.JPG"
  mcopy -i "$1" "$work/data" "::/Long File Name.jpg"
  mcopy -i "$1" "$work/data" "::/RECYCLED/DC1/Grüße.jpg"
  mcopy -i "$1" "$work/data" "::/Trip/beach.jpg"
  mdel -i "$1" "::/Long File Name.jpg" ::/DCIM/100CANON/IMG_0001.JPG
  mdeltree -i "$1" ::/Trip
}

mkfs.fat -C -F 12 "$work/fat12.img" 360 >/dev/null
populate "$work/fat12.img"
head -c $((32 * 1024)) "$work/fat12.img" >"$out/fat12-head.img"

mkfs.fat -C -F 16 -s 4 "$work/fat16.img" 20480 >/dev/null
populate "$work/fat16.img"
head -c $((160 * 1024)) "$work/fat16.img" >"$out/fat16-head.img"

mkfs.fat -C -F 32 -s 1 -f 1 "$work/fat32.img" 40000 >/dev/null
populate "$work/fat32.img"
python3 - "$work/fat32.img" "$out/fat32-small.img" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
reserved = struct.unpack_from('<H', data, 14)[0]
fat_size = struct.unpack_from('<I', data, 36)[0]
boot = bytearray(data[:reserved * 512])
struct.pack_into('<I', boot, 36, 1)
fat = data[reserved * 512:reserved * 512 + 512]
start = (reserved + fat_size) * 512
open(sys.argv[2], 'wb').write(bytes(boot) + fat + data[start:start + 64 * 512])
PY

# exFAT: live and deleted files and folders, a deleted folder with its files, a file chained
# around a deleted one, and a long name.
truncate -s 256K "$work/exfat.img"
mkfs.exfat -b 512 -c 512 "$work/exfat.img" >/dev/null
loop=$(losetup --find --show "$work/exfat.img")
mkdir -p "$work/mnt"
mount.exfat-fuse "$loop" "$work/mnt" >/dev/null
(
  cd "$work/mnt"
  mkdir -p DCIM/100CANON Trip
  head -c 300 "$work/data" >DCIM/100CANON/IMG_0001.JPG
  head -c 700 "$work/data" >"DCIM/Long File Name with ümlauts and more.jpg"
  head -c 200 "$work/data" >Trip/beach.jpg
  head -c 400 "$work/data" >gap.bin
  head -c 100 "$work/data" >keep.txt
  rm gap.bin
  head -c 1200 "$work/data" >chained.jpg
  rm DCIM/100CANON/IMG_0001.JPG "DCIM/Long File Name with ümlauts and more.jpg"
  rm -r Trip
)
sync
umount "$work/mnt"
losetup -d "$loop"
head -c $((32 * 1024)) "$work/exfat.img" >"$out/exfat-head.img"
head -c $((24 * 1024)) "$work/exfat.img" >"$out/exfat-cut.img"

# FAT12 with deleted files whose long names mtools will not write: names of dots and spaces,
# terminal escapes, a C1 control and a bidirectional override, and a deleted folder named "..".
# They are written under names of the same length, deleted, and their long-name entries
# rewritten.
mkfs.fat -C -F 12 "$work/names.img" 360 >/dev/null
mmd -i "$work/names.img" ::/k+
for name in + = ++ +++ a+.txt esc+++.txt red++.txt bidi+++.exe k+/in.txt; do
  mcopy -i "$work/names.img" "$work/data" "::/$name"
done
mdel -i "$work/names.img" ::/+ ::/= ::/++ ::/+++ ::/a+.txt ::/esc+++.txt ::/red++.txt ::/bidi+++.exe
mdeltree -i "$work/names.img" ::/k+
python3 - "$work/names.img" <<'PY'
import sys
path = sys.argv[1]
image = bytearray(open(path, 'rb').read())
offsets = [1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30]
renames = {'+': '.', '=': ' ', '++': '..', '+++': '...', 'a+.txt': '  .txt', 'k+': '..',
           'esc+++.txt': '\x1b]0;X\x07.txt', 'red++.txt': '\x1b[31m.txt',
           'bidi+++.exe': 'csi\x9b \u202egnp.exe'}
def units(entry):
    return ''.join(chr(image[entry + o] | image[entry + o + 1] << 8) for o in offsets)
for entry in range(0, len(image) - 31, 32):
    if image[entry + 11] != 0x0F:
        continue
    name = units(entry).split('\0')[0]
    if name in renames:
        for i, c in enumerate(renames[name]):
            image[entry + offsets[i]:entry + offsets[i] + 2] = ord(c).to_bytes(2, 'little')
open(path, 'wb').write(image)
PY
head -c $((32 * 1024)) "$work/names.img" >"$out/fat12-names.img"
