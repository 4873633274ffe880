"""A reused camera card: a FAT32 volume shot full of JPEGs, every third one deleted, shooting
continued until the card is full again, then quick-formatted.

The card is written directly, cluster by cluster, the way a camera's FAT driver does it: mkfs.fat
makes the volume, and this module allocates clusters from the volume's next-free pointer, which
keeps moving forward and wraps to the first cluster at the end of the volume. After the deletes
the pointer stands at the end of the first fill, so the pictures shot next fill the rest of the
card and then the freed holes from the start: they are fragmented into whatever the deleted
pictures left. (mcopy does not fill holes, so it cannot make such a card.) mtools reads every
live picture back before the format, which proves the FAT chains written here.
"""
import hashlib
import os
import shutil
import subprocess
import tempfile
from array import array

END_OF_CHAIN = 0x0FFFFFFF
DELETED = 0xE5
ATTR_DIRECTORY = 0x10
ATTR_ARCHIVE = 0x20
# A camera folder has room for this many pictures; a card holds fewer of the sizes used here.
FOLDER_ENTRIES = 4096


def u16(data, at):
    return int.from_bytes(data[at:at + 2], "little")


def u32(data, at):
    return int.from_bytes(data[at:at + 4], "little")


def fat_stamp(serial):
    """FAT time and date of the SERIALth picture: one every ten seconds from a May morning."""
    seconds = 9 * 3600 + serial * 10
    time = ((seconds // 3600 % 24) << 11) | ((seconds // 60 % 60) << 5) | (seconds % 60 // 2)
    date = ((2024 - 1980) << 9) | (5 << 5) | (18 + seconds // 86400)
    return time, date


def dir_entry(name, attribute, cluster, size, serial):
    time, date = fat_stamp(serial)
    entry = bytearray(32)
    entry[0:11] = name
    entry[11] = attribute
    for at, value in ((14, time), (16, date), (18, date), (20, cluster >> 16), (22, time),
                      (24, date), (26, cluster & 0xFFFF)):
        entry[at:at + 2] = value.to_bytes(2, "little")
    entry[28:32] = size.to_bytes(4, "little")
    return entry


class Fat32:
    """The FAT32 volume at the start of an image file, its geometry read from the boot sector.
    The FAT is kept in memory and written to every copy by flush()."""

    def __init__(self, handle):
        self.handle = handle
        handle.seek(0)
        boot = handle.read(512)
        if boot[510:512] != b"\x55\xaa" or boot[82:87] != b"FAT32":
            raise ValueError("not a FAT32 boot sector")
        sector = u16(boot, 11)
        reserved, fats, fat_sectors = u16(boot, 14), boot[16], u32(boot, 36)
        total = u16(boot, 19) or u32(boot, 32)
        self.cluster_bytes = sector * boot[13]
        self.root = u32(boot, 44)
        self.fsinfo = u16(boot, 48) * sector
        self.fat_offsets = [(reserved + i * fat_sectors) * sector for i in range(fats)]
        self.data = (reserved + fats * fat_sectors) * sector
        self.last = (total - reserved - fats * fat_sectors) // boot[13] + 1
        handle.seek(self.fat_offsets[0])
        self.fat = array("I", handle.read(4 * (self.last + 1)))
        self.next_free = self.root + 1
        self.free = sum(1 for c in range(2, self.last + 1) if self.fat[c] == 0)

    def offset(self, cluster):
        return self.data + (cluster - 2) * self.cluster_bytes

    def allocate(self, count):
        """COUNT free clusters taken from the next-free pointer on, wrapping at the end of the
        volume, and chained; None (nothing taken) when fewer are free: the card is full."""
        if self.free < count:
            return None
        chain = []
        cluster = self.next_free
        while len(chain) < count:
            if cluster > self.last:
                cluster = 2
            if self.fat[cluster] == 0:
                chain.append(cluster)
            cluster += 1
        for here, after in zip(chain, chain[1:] + [END_OF_CHAIN]):
            self.fat[here] = after
        self.next_free = cluster if cluster <= self.last else 2
        self.free -= count
        return chain

    def release(self, chain):
        for cluster in chain:
            self.fat[cluster] = 0
        self.free += len(chain)

    def write(self, chain, data):
        """DATA into the clusters of CHAIN; the last cluster's slack keeps its old bytes."""
        for i, cluster in enumerate(chain):
            self.handle.seek(self.offset(cluster))
            self.handle.write(data[i * self.cluster_bytes:(i + 1) * self.cluster_bytes])

    def read(self, chain, size):
        parts = []
        for cluster in chain:
            self.handle.seek(self.offset(cluster))
            parts.append(self.handle.read(self.cluster_bytes))
        return b"".join(parts)[:size]

    def flush(self):
        for offset in self.fat_offsets:
            self.handle.seek(offset)
            self.handle.write(self.fat.tobytes())
        # FSInfo: free cluster count and the next-free hint.
        self.handle.seek(self.fsinfo + 488)
        self.handle.write(self.free.to_bytes(4, "little") +
                          self.next_free.to_bytes(4, "little"))


class Folder:
    """A directory in contiguous clusters, its entries appended one after the other."""

    def __init__(self, volume, chain):
        self.volume = volume
        self.chain = chain
        self.entries = bytearray(volume.read(chain, len(chain) * volume.cluster_bytes))

    def add(self, entry):
        for at in range(0, len(self.entries), 32):
            if self.entries[at] == 0:
                self.entries[at:at + 32] = entry
                return at
        raise RuntimeError("camera folder full")

    def delete(self, at):
        self.entries[at] = DELETED

    def flush(self):
        self.volume.write(self.chain, bytes(self.entries))


def runs(chain):
    """[first, count] for each run of consecutive clusters."""
    out = []
    for cluster in chain:
        if out and out[-1][0] + out[-1][1] == cluster:
            out[-1][1] += 1
        else:
            out.append([cluster, 1])
    return out


def format_card(image, sectors_per_cluster):
    """mkfs.fat with a fixed serial and fixed times (--invariant), so that the card is the same
    on every build."""
    subprocess.run(["mkfs.fat", "-F", "32", "-s", str(sectors_per_cluster), "-n", "KSTRLCAM",
                    "--invariant", image], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def cluster_sectors(size):
    """The largest cluster (in sectors) that still gives FAT32 its minimum of clusters."""
    for sectors in (64, 32, 16, 8, 4, 2, 1):
        if size // (sectors * 512) >= 66000:
            return sectors
    raise ValueError("image too small for FAT32")


class Camera:
    """Shoots pictures into DCIM/100KSTRL of a FAT32 volume."""

    def __init__(self, volume):
        self.volume = volume
        self.shots = []
        root = Folder(volume, [volume.root])
        dcim_chain = volume.allocate(1)
        folder_clusters = -(-(FOLDER_ENTRIES + 2) * 32 // volume.cluster_bytes)
        folder_chain = volume.allocate(folder_clusters)
        volume.write(dcim_chain, bytes(volume.cluster_bytes))
        volume.write(folder_chain, bytes(folder_clusters * volume.cluster_bytes))
        root.add(dir_entry(b"DCIM       ", ATTR_DIRECTORY, dcim_chain[0], 0, 0))
        dcim = Folder(volume, dcim_chain)
        dcim.add(dir_entry(b".          ", ATTR_DIRECTORY, dcim_chain[0], 0, 0))
        dcim.add(dir_entry(b"..         ", ATTR_DIRECTORY, 0, 0, 0))
        dcim.add(dir_entry(b"100KSTRL   ", ATTR_DIRECTORY, folder_chain[0], 0, 0))
        self.folder = Folder(volume, folder_chain)
        self.folder.add(dir_entry(b".          ", ATTR_DIRECTORY, folder_chain[0], 0, 0))
        self.folder.add(dir_entry(b"..         ", ATTR_DIRECTORY, dcim_chain[0], 0, 0))
        root.flush()
        dcim.flush()

    def shoot(self, record, phase):
        """Writes one picture; False when the card is full (nothing written)."""
        with open(record["path"], "rb") as f:
            data = f.read()
        count = -(-len(data) // self.volume.cluster_bytes)
        chain = self.volume.allocate(count)
        if chain is None:
            return False
        number = len(self.shots) + 1
        self.volume.write(chain, data)
        at = self.folder.add(dir_entry(f"IMG_{number:04d}JPG".encode(), ATTR_ARCHIVE, chain[0],
                                       len(data), number))
        self.shots.append({**record, "name": f"IMG_{number:04d}.JPG", "phase": phase,
                           "chain": chain, "entry": at, "deleted": False})
        return True

    def delete_every_third(self):
        for shot in self.shots[2::3]:
            self.volume.release(shot["chain"])
            self.folder.delete(shot["entry"])
            shot["deleted"] = True

    def flush(self):
        self.folder.flush()
        self.volume.flush()


def read_back(image, shots):
    """Copies DCIM/100KSTRL out with mtools and checks every live picture's sha256."""
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    folder = tempfile.mkdtemp(prefix="kestrel-card-")
    try:
        subprocess.run(["mcopy", "-s", "-n", "-i", image, "::/DCIM/100KSTRL", folder],
                       check=True, env=env, stdout=subprocess.DEVNULL)
        for shot in shots:
            if shot["deleted"]:
                continue
            path = os.path.join(folder, "100KSTRL", shot["name"])
            with open(path, "rb") as f:
                if hashlib.sha256(f.read()).hexdigest() != shot["sha256"]:
                    raise RuntimeError(f"card: {shot['name']} reads back wrong through mtools")
    finally:
        shutil.rmtree(folder)


def build(image, size, pictures, fill_random):
    """Makes the reused card in IMAGE (SIZE bytes) from the picture records that PICTURES yields;
    FILL_RANDOM(path, size) lays the old data. Returns (records, cluster bytes)."""
    fill_random(image, size)
    sectors = cluster_sectors(size)
    format_card(image, sectors)
    with open(image, "r+b") as handle:
        volume = Fat32(handle)
        camera = Camera(volume)
        # Shoot until the card is full, delete every third picture, shoot on until full again.
        for phase in ("first fill", "shot after the deletes"):
            for record in pictures:
                if not camera.shoot(record, phase):
                    pictures.send_back(record)
                    break
            if phase == "first fill":
                camera.delete_every_third()
        camera.flush()
    read_back(image, camera.shots)
    format_card(image, sectors)
    return describe(image, camera.shots, volume), volume.cluster_bytes


def describe(image, shots, volume):
    """Manifest records: each picture's clusters and fragments, and whether its bytes still lie
    whole in the image after the format (a deleted one may have been shot over)."""
    records = []
    with open(image, "rb") as handle:
        volume.handle = handle
        for shot in shots:
            fragments = []
            position = 0
            for order, (first, count) in enumerate(runs(shot["chain"]), 1):
                length = min(count * volume.cluster_bytes, shot["size"] - position)
                fragments.append({"order": order, "offset": volume.offset(first),
                                  "length": length})
                position += length
            data = volume.read(shot["chain"], shot["size"])
            state = "deleted, then shot over" if shot["deleted"] else shot["phase"]
            present = hashlib.sha256(data).hexdigest() == shot["sha256"]
            if shot["deleted"] and present:
                state = "deleted, not shot over"
            records.append({
                "path": shot["path"], "type": "JPG", "variant": shot["variant"],
                "size": shot["size"], "sha256": shot["sha256"], "name": shot["name"],
                "level": "card", "scenario": state, "clusters": runs(shot["chain"]),
                "fragments": fragments, "fragmented": len(fragments) > 1, "present": present})
    return records
