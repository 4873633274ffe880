#!/usr/bin/env python3
"""Builds the benchmark images from the pool that make_files.py wrote.

    make_images.py FILES_DIR IMAGES_DIR [--size-mb N] [--kinds card,reused,office,planted,random,zeros,dense]

Each image IMAGES_DIR/KIND.img gets a manifest IMAGES_DIR/KIND.json:
{"image", "kind", "size", "originals": [{"path", "type", "variant", "size", "sha256",
"offset", "present"}], "live": [...]}. "present" says whether the original's bytes still lie whole and
contiguous in the image (a reformat can overwrite the start of the data area; NTFS keeps small
files inside the MFT, which a reformat rewrites): only present files can be recovered by carving.

  card     FAT32 camera card: old random data, mkfs.fat -F 32, photos/movies/sound copied with
           mcopy into DCIM/100KSTRL, then mkfs.fat again (a quick format).
  reused   the card formatted and shot on: old data, mkfs.fat, camera files, mkfs.fat, then
           about 60% of the card written again with other camera files, which stay live. Its
           originals are the deleted old files (present: still whole, not overwritten); "live"
           lists the new files (same fields), so that copies of them can be told apart.
  office   NTFS partition: old random data, mkntfs -Q, documents copied through ntfs-3g, then
           mkntfs -Q again. Needs root and FUSE; skipped with a message otherwise.
  planted  random bytes with real files of every type at random sector offsets (recorded).
  random   random bytes only: every recovered file is junk.
  zeros    a sparse all-zero image.
  dense    the test fixtures, each at a sector boundary, repeated up to the size (speed only).
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SECTOR = 512


def fill_random(path, size, rng):
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 16 << 20)
            f.write(rng.randbytes(n))
            left -= n


def write_manifest(images, kind, image, originals, live=None):
    manifest = {"image": image, "kind": kind, "size": os.path.getsize(image),
                "originals": originals}
    if live is not None:
        manifest["live"] = live
    with open(os.path.join(images, kind + ".json"), "w") as f:
        json.dump(manifest, f, indent=1)
    present = sum(1 for o in originals if o["present"])
    print(f"make_images: {kind}: {os.path.getsize(image) >> 20} MiB, {len(originals)} files "
          f"written, {present} whole in the image"
          + (f", {len(live)} live files" if live is not None else ""))


def locate(image, originals):
    """Finds each original's whole, contiguous copy at a sector boundary of the image."""
    by_head = {}
    for o in originals:
        o["present"] = False
        o["offset"] = None
        if o["size"] >= 64:
            with open(o["path"], "rb") as f:
                by_head.setdefault(f.read(64), []).append(o)
    import mmap
    with open(image, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mm:
        size = len(mm)
        for offset in range(0, size, SECTOR):
            candidates = by_head.get(mm[offset:offset + 64])
            if not candidates:
                continue
            for o in candidates:
                if o["present"] or offset + o["size"] > size:
                    continue
                if same_bytes(mm, offset, o):
                    o["present"] = True
                    o["offset"] = offset


def same_bytes(mm, offset, original):
    with open(original["path"], "rb") as f:
        position = offset
        for block in iter(lambda: f.read(1 << 20), b""):
            if mm[position:position + len(block)] != block:
                return False
            position += len(block)
    return True


def cut_short(record):
    """A RIFF sample whose header claims more bytes than the file has (some real samples were cut
    short): every carver would run over whatever follows it, hiding the comparison."""
    with open(record["path"], "rb") as f:
        header = f.read(12)
    return (header[:4] == b"RIFF" and
            int.from_bytes(header[4:8], "little") + 8 > record["size"])


def pick(records, groups, budget, rng, exclude_variants=()):
    chosen = []
    candidates = [r for r in records if r["group"] in groups and r["variant"] not in exclude_variants
                  and not cut_short(r)]
    rng.shuffle(candidates)
    used = 0
    for r in candidates:
        if used + r["size"] > budget:
            continue
        chosen.append(dict(r))
        used += r["size"]
    return chosen


def fat_tools(kind):
    """True when mkfs.fat and mtools are installed; says what is missing otherwise."""
    for tool in ("mkfs.fat", "mcopy", "mmd"):
        if not shutil.which(tool):
            print(f"make_images: {kind}: {tool} not found (dosfstools, mtools), skipped",
                  file=sys.stderr)
            return False
    return True


def format_fat(image, serial):
    """A camera's quick format: mkfs.fat -F 32 writes the file system's tables only; the old
    clusters stay as they are."""
    subprocess.run(["mkfs.fat", "-F", "32", "-n", "KSTRLCAM", "-i", serial, image], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def copy_to_fat(image, chosen):
    """Makes the camera's folder DCIM/100KSTRL and copies the chosen files into it with mcopy,
    in order."""
    names = [o["path"] for o in chosen]
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    subprocess.run(["mmd", "-i", image, "::/DCIM", "::/DCIM/100KSTRL"], check=True, env=env)
    for start in range(0, len(names), 50):
        subprocess.run(["mcopy", "-i", image, "-o", *names[start:start + 50], "::/DCIM/100KSTRL/"],
                       check=True, env=env)


def formatted_card(records, image, size, rng):
    """A camera card filled and formatted: old random data, mkfs.fat, camera files copied,
    mkfs.fat again. Returns the files copied (their bytes are still in the clusters)."""
    fill_random(image, size, rng)
    format_fat(image, "1234ABCD")
    # Fill to about 90% (clusters round every file up); whatever does not fit is left out.
    chosen = pick(records, {"camera"}, int(size * 0.85), rng)
    copy_to_fat(image, chosen)
    format_fat(image, "5678EF01")
    return chosen


def card(records, images, size, rng):
    if not fat_tools("card"):
        return
    image = os.path.join(images, "card.img")
    chosen = formatted_card(records, image, size, rng)
    locate(image, chosen)
    write_manifest(images, "card", image, chosen)


def reused(records, images, size, rng):
    """The formatted card shot on again: the new (live) files take the clusters from the start
    of the data area, over the old ones; the old files past them still lie whole in the free
    space."""
    if not fat_tools("reused"):
        return
    image = os.path.join(images, "reused.img")
    chosen = formatted_card(records, image, size, rng)
    # About 60% of the card written again, with files none of the old ones equals.
    old = {o["sha256"] for o in chosen}
    live = pick([r for r in records if r["sha256"] not in old], {"camera"}, int(size * 0.6), rng)
    written = sum(o["size"] for o in live)
    if written < size // 2:
        print(f"make_images: reused: only {written >> 20} MiB of camera files besides the old "
              "ones (make the pool with make_files.py --camera-mb of 1.5 times the image size)",
              file=sys.stderr)
    copy_to_fat(image, live)
    locate(image, chosen)
    locate(image, live)
    write_manifest(images, "reused", image, chosen, live)


def office(records, images, size, rng):
    for tool in ("mkntfs", "ntfs-3g"):
        if not shutil.which(tool):
            print(f"make_images: office: {tool} not found (ntfs-3g), skipped", file=sys.stderr)
            return
    if os.geteuid() != 0 or not os.path.exists("/dev/fuse"):
        print("make_images: office: needs root and /dev/fuse to mount with ntfs-3g, skipped",
              file=sys.stderr)
        return
    image = os.path.join(images, "office.img")
    fill_random(image, size, rng)
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["mkntfs", "-Q", "-F", "-q", "-L", "Office", image], check=True, **quiet)
    chosen = pick(records, {"office"}, int(size * 0.8), rng)
    mount = tempfile.mkdtemp(prefix="kestrel-bench-ntfs-")
    subprocess.run(["ntfs-3g", image, mount], check=True)
    try:
        os.makedirs(os.path.join(mount, "Documents"))
        for i, o in enumerate(chosen):
            shutil.copyfile(o["path"], os.path.join(mount, "Documents",
                                                    f"doc{i:04d}.{o['type'].lower()}"))
    finally:
        subprocess.run(["umount", mount], check=True)
        os.rmdir(mount)
    subprocess.run(["mkntfs", "-Q", "-F", "-q", "-L", "Office", image], check=True, **quiet)
    locate(image, chosen)
    write_manifest(images, "office", image, chosen)


def planted(records, images, size, rng):
    image = os.path.join(images, "planted.img")
    fill_random(image, size, rng)
    # About a third of the image: every kind of file, at random sector offsets, never overlapping.
    budget = size // 3
    # One camera-sized JPEG (over 10 MiB) when it takes at most half of the planted bytes.
    big = [dict(r) for r in records if r["variant"].startswith("over-10MiB")
           and 2 * r["size"] <= budget][:1]
    budget -= sum(r["size"] for r in big)
    chosen = big + pick(records, {"camera", "office"}, budget, rng,
                        exclude_variants=("over-10MiB", "over-10MiB+exif-thumb"))
    sectors = size // SECTOR
    taken = []
    placed = []
    with open(image, "rb+") as out:
        for o in chosen:
            length = (o["size"] + SECTOR - 1) // SECTOR
            for _ in range(200):
                start = rng.randrange(0, sectors - length)
                # Keep a sector of random bytes between neighbours so no two files touch.
                if all(start + length + 1 <= a or b + 1 <= start for a, b in taken):
                    break
            else:
                continue
            taken.append((start, start + length))
            with open(o["path"], "rb") as f:
                out.seek(start * SECTOR)
                out.write(f.read())
            o["offset"] = start * SECTOR
            o["present"] = True
            placed.append(o)
    placed.sort(key=lambda o: o["offset"])
    write_manifest(images, "planted", image, placed)


def random_image(images, size, rng):
    image = os.path.join(images, "random.img")
    fill_random(image, size, rng)
    write_manifest(images, "random", image, [])


def zeros(images, size):
    image = os.path.join(images, "zeros.img")
    with open(image, "wb") as f:
        f.truncate(size)
    write_manifest(images, "zeros", image, [])


def dense(images, size):
    samples = []
    for folder in ("samples", "structured"):
        path = os.path.join(ROOT, "tests", "fixtures", folder)
        for name in sorted(os.listdir(path)):
            if os.path.splitext(name)[1] not in (".md", ".sh", ".py", ".gz"):
                samples.append(os.path.join(path, name))
    round_bytes = bytearray()
    for sample in samples:
        with open(sample, "rb") as f:
            round_bytes += f.read()
        round_bytes += bytes(-len(round_bytes) % SECTOR)
    image = os.path.join(images, "dense.img")
    with open(image, "wb") as f:
        written = 0
        while written < size:
            part = bytes(round_bytes[:size - written])
            f.write(part)
            written += len(part)
    write_manifest(images, "dense", image, [])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files")
    parser.add_argument("images")
    parser.add_argument("--size-mb", type=int, default=128)
    parser.add_argument("--kinds", default="card,reused,office,planted,random,zeros,dense")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    with open(os.path.join(args.files, "files.json")) as f:
        records = json.load(f)
    os.makedirs(args.images, exist_ok=True)
    size = args.size_mb << 20
    for kind in args.kinds.split(","):
        rng = random.Random(f"{args.seed}-{kind}")
        if kind == "card":
            card(records, args.images, size, rng)
        elif kind == "reused":
            reused(records, args.images, size, rng)
        elif kind == "office":
            office(records, args.images, size, rng)
        elif kind == "planted":
            planted(records, args.images, size, rng)
        elif kind == "random":
            random_image(args.images, size, rng)
        elif kind == "zeros":
            zeros(args.images, size)
        elif kind == "dense":
            dense(args.images, size)
        else:
            sys.exit(f"make_images: unknown kind {kind}")


if __name__ == "__main__":
    main()
