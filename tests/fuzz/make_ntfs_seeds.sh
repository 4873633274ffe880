#!/usr/bin/env bash
# Makes the seed records of ntfs_fuzz: the first MFT records of a volume formatted by mkntfs,
# each behind the selector byte 0x04 (record parser, 1024-byte records).
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/seeds/ntfs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
truncate -s 4M "$work/ntfs.img"
mkntfs -F -Q -q "$work/ntfs.img" >/dev/null 2>&1
python3 - "$work/ntfs.img" "$out" <<'PY'
import struct, sys
image, out = open(sys.argv[1], 'rb').read(), sys.argv[2]
sector, per_cluster = struct.unpack_from('<HB', image, 0x0B)
mft = struct.unpack_from('<Q', image, 0x30)[0] * sector * per_cluster
for number in range(12):
    record = image[mft + number * 1024: mft + (number + 1) * 1024]
    open(f'{out}/record-{number:02d}', 'wb').write(b'\x04' + record)
PY
