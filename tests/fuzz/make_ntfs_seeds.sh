#!/usr/bin/env bash
# Makes the seed records of ntfs_fuzz: the first MFT records of a volume formatted by mkntfs,
# and the records of three files ntfscp wrote under hostile names (terminal escapes, a C1
# control and a bidirectional override, a name of dots), each behind the selector byte 0x04
# (record parser, 1024-byte records).
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/seeds/ntfs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
truncate -s 4M "$work/ntfs.img"
mkntfs -F -Q -q "$work/ntfs.img" >/dev/null 2>&1
echo data >"$work/data"
for name in $'\e]0;PWNED\a\e[31mred.txt' $'csi\u009b31m \u202egnp.exe' '...'; do
  ntfscp -q "$work/ntfs.img" "$work/data" "$name"
done
python3 - "$work/ntfs.img" "$out" <<'PY'
import struct, sys
image, out = open(sys.argv[1], 'rb').read(), sys.argv[2]
sector, per_cluster = struct.unpack_from('<HB', image, 0x0B)
mft = struct.unpack_from('<Q', image, 0x30)[0] * sector * per_cluster
for number in list(range(12)) + [64, 65, 66]:
    record = image[mft + number * 1024: mft + (number + 1) * 1024]
    open(f'{out}/record-{number:02d}', 'wb').write(b'\x04' + record)
PY
