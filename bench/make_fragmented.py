#!/usr/bin/env python3
"""Builds carving images with fragmented files, in the manner of the DFRWS 2006 and 2007 carving
challenges, and a reused camera card, from files made by real tools.

    make_fragmented.py FILES_DIR IMAGES_DIR [--seed N] [--repeat N] [--min-mb N] [--card-mb N]
                       [--levels whole,in-order,intertwined,out-of-order,card]

FILES_DIR holds the pool (FILES_DIR/files.json, made here with make_files.py's generators on the
first run and reused after): JPEG, ZIP, DOCX, XLSX, DOC, XLS, PPT, PDF, MP3, MPEG-2 PS, AVI, MOV,
MP4 and WMV files of 10 KiB to 2 MiB, and the card's pictures (FILES_DIR/card/). Every level is
its own image IMAGES_DIR/LEVEL.img, with random bytes between the files, at least --min-mb MiB:

  whole         every format's files lying contiguous, at sector-aligned starts;
  in-order      2 or 3 fragments cut at 4 KiB boundaries, in order, with between them random
                bytes, text, another whole file, or a 4 KiB block starting FF D9;
  intertwined   two and three JPEGs, and two MP3s, interleaved fragment by fragment;
  out-of-order  fragments stored in the orders (2,1), (3,1,2), (1,3,2) and (1,3,2,4);
  card          a FAT32 camera card shot full, every third picture deleted, shot on until full
                (the new pictures fragmented into the holes), then quick-formatted.

Fragments start at 4 KiB boundaries of the image, as a file system's clusters would; a file's
last fragment ends in random slack up to the next boundary. Each image gets a manifest
IMAGES_DIR/LEVEL.json: {"image", "kind", "level", "size", "originals": [{"path", "type",
"variant", "size", "sha256", "level", "scenario", "fragments": [{"order", "offset", "length"}],
"fragmented", "present"}]}; the card's records add "name" and "clusters" ([first, count] runs)
and list the deleted pictures that were shot over with "present": false. Every original lies in
its image once. The same seed, pool and tools give the same images.
"""
import argparse
import json
import os
import random
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import camera_card  # noqa: E402
import make_files  # noqa: E402
import make_images  # noqa: E402

BLOCK = 4096
SECTOR = 512
MIN_SIZE = 10 << 10
MAX_SIZE = 2 << 20
FORMATS = ["JPG", "ZIP", "DOCX", "XLSX", "DOC", "XLS", "PPT", "PDF", "MP3", "MPG", "AVI", "MOV",
           "MP4", "WMV"]
LEVELS = ["whole", "in-order", "intertwined", "out-of-order", "card"]
GAPS = ["random", "text", "whole file", "FF D9 block"]
ORDERS = [(2, 1), (3, 1, 2), (1, 3, 2), (1, 3, 2, 4)]
# Intertwined groups per repeat: (type, files in the group, how many groups).
INTERTWINED = [("JPG", 2, 4), ("JPG", 3, 3), ("MP3", 2, 3)]
WHOLE_PER_FORMAT = 2
CARD_JPEG_WIDTHS = [960, 1024, 1280]


# ---- the pool ---------------------------------------------------------------------------------

def wanted(repeat):
    """Files of each type one image may need, all different: in-order takes one per gap kind
    and whole files for the gaps, intertwined takes the most JPEGs and MP3s."""
    counts = {t: (len(GAPS) + 3) * repeat for t in FORMATS}
    counts["JPG"] = max(counts["JPG"], sum(n * g for t, n, g in INTERTWINED if t == "JPG") * repeat)
    counts["MP3"] = max(counts["MP3"], sum(n * g for t, n, g in INTERTWINED if t == "MP3") * repeat)
    return counts


def generate(pool, kind, step):
    """One round of KIND's generator; returns nothing (the pool records what it made)."""
    group = "fragmented"
    if kind == "JPG":
        make_files.jpeg(pool, "camera", widths=[640, 800, 1024, 1600])
    elif kind == "ZIP":
        make_files.archives(pool, group)
    elif kind in ("DOCX", "XLSX"):
        make_files.office(pool, group)
    elif kind in ("DOC", "XLS", "PPT"):
        make_files.compound_documents(pool, group, 4)
    elif kind == "PDF":
        make_files.pdf(pool, group, incremental=step % 3 == 1)
    elif kind == "MP3":
        tags = ["id3v2-only", "id3v1-only", "id3v1+v2", "untagged", "vbr-xing"]
        make_files.mp3(pool, group, tags[step % len(tags)])
    else:
        movie = {"MPG": "mpg2", "AVI": "avi", "MOV": "mov", "WMV": "wmv",
                 "MP4": "mp4-faststart" if step % 2 else "mp4"}[kind]
        make_files.movie(pool, group, movie, small=True)


def usable(record):
    return MIN_SIZE <= record["size"] <= MAX_SIZE


def continued_pool(folder, seed, records):
    """A make_files pool in FOLDER that goes on from RECORDS: new names follow the old ones."""
    pool = make_files.Pool(folder, seed)
    pool.serial = max((int(os.path.basename(r["path"])[1:6]) for r in records), default=0)
    pool.have_ffmpeg = make_files.have("ffmpeg")
    pool.records = records
    return pool


def make_pool(files, seed, repeat):
    """The fragmented pool in FILES, made once and extended when a larger --repeat needs more."""
    listing = os.path.join(files, "files.json")
    records = []
    if os.path.exists(listing):
        with open(listing) as f:
            records = json.load(f)
    need = wanted(repeat)

    def count(kind):
        return sum(1 for r in records if r["type"] == kind and usable(r))

    if all(count(t) >= need[t] for t in FORMATS):
        return records
    # The pool appends to RECORDS as it makes files.
    pool = continued_pool(files, f"{seed}-pool-{len(records)}", records)
    for kind in FORMATS:
        for step in range(12 * need[kind]):
            if count(kind) >= need[kind]:
                break
            generate(pool, kind, step)
        if count(kind) < need[kind]:
            print(f"make_fragmented: could make only {count(kind)} {kind} files of 10 KiB to "
                  "2 MiB; the images use what there is", file=sys.stderr)
    shutil.rmtree(pool.tmp, ignore_errors=True)
    with open(listing, "w") as f:
        json.dump(pool.records, f, indent=1)
    return pool.records


class Pictures:
    """The card's pictures, made as the camera asks for them and kept in FILES/card/."""

    def __init__(self, files, seed):
        self.folder = os.path.join(files, "card")
        self.listing = os.path.join(self.folder, "pictures.json")
        self.seed = seed
        self.records = []
        if os.path.exists(self.listing):
            with open(self.listing) as f:
                self.records = json.load(f)
        self.next = 0
        self.returned = []
        self.pool = None

    def __iter__(self):
        return self

    def __next__(self):
        if self.returned:
            return self.returned.pop()
        while self.next >= len(self.records):
            self.make_one()
        self.next += 1
        return self.records[self.next - 1]

    def send_back(self, record):
        self.returned.append(record)

    def make_one(self):
        if self.pool is None:
            self.pool = continued_pool(self.folder, f"{self.seed}-card-{len(self.records)}",
                                       self.records)
        if not make_files.jpeg(self.pool, "camera", widths=CARD_JPEG_WIDTHS):
            raise RuntimeError("card: no JPEG made (GraphicsMagick and ffmpeg are needed)")
        last = self.records[-1]
        if not usable(last) or any(r["sha256"] == last["sha256"] for r in self.records[:-1]):
            self.records.pop()

    def save(self):
        if self.pool:
            shutil.rmtree(self.pool.tmp, ignore_errors=True)
        os.makedirs(self.folder, exist_ok=True)
        with open(self.listing, "w") as f:
            json.dump(self.records, f, indent=1)


# ---- laying out an image ----------------------------------------------------------------------

class Picker:
    """Hands out pool files, each at most once per image."""

    def __init__(self, records, rng):
        self.free = [r for r in records if usable(r)]
        rng.shuffle(self.free)

    def take(self, kind=None, min_size=0):
        for i, record in enumerate(self.free):
            if (kind is None or record["type"] == kind) and record["size"] > min_size:
                return self.free.pop(i)
        raise RuntimeError(f"make_fragmented: the pool has no more {kind or 'files'} "
                           "(make it again with a larger --repeat)")

    def take_spare(self, exclude):
        """A file of the type with the most files left, other than EXCLUDE."""
        left = {}
        for record in self.free:
            if record["type"] != exclude:
                left[record["type"]] = left.get(record["type"], 0) + 1
        return self.take(max(left, key=left.get) if left else exclude)


def split(size, count, rng):
    """Cuts SIZE bytes into COUNT pieces at random 4 KiB boundaries: [(start, length)]."""
    blocks = -(-size // BLOCK)
    cuts = sorted(rng.sample(range(1, blocks), count - 1))
    bounds = [0] + [c * BLOCK for c in cuts] + [size]
    return [(bounds[i], bounds[i + 1] - bounds[i]) for i in range(count)]


def text_bytes(rng, size):
    lines = []
    length = 0
    while length < size:
        line = f"{rng.randint(1, 9999):>5} {make_files.words(rng, rng.randint(3, 14))}\n"
        lines.append(line)
        length += len(line)
    return "".join(lines).encode()[:size]


class Layout:
    """Writes one image front to back and records where every original's pieces went."""

    def __init__(self, path, rng, spacing):
        self.out = open(path, "wb")
        self.rng = rng
        self.spacing = spacing
        self.originals = []

    def random(self, size):
        self.out.write(self.rng.randbytes(size))

    def align(self, unit):
        self.random(-self.out.tell() % unit)

    def filler(self, unit):
        """Random bytes between two items: on average SPACING, whole UNITs."""
        self.random(self.rng.randint(1, max(1, 2 * self.spacing // unit)) * unit)

    def pieces(self, record, parts, placement):
        """Writes the pieces PARTS[i] of RECORD's data through PLACEMENT order; returns their
        offsets by part index."""
        with open(record["path"], "rb") as f:
            data = f.read()
        offsets = {}
        for index in placement:
            start, length = parts[index]
            self.align(BLOCK)
            offsets[index] = self.out.tell()
            self.out.write(data[start:start + length])
        self.align(BLOCK)
        return offsets

    def note(self, record, level, scenario, parts, offsets):
        fragments = [{"order": i + 1, "offset": offsets[i], "length": parts[i][1]}
                     for i in range(len(parts))]
        self.originals.append({
            "path": record["path"], "type": record["type"], "variant": record["variant"],
            "size": record["size"], "sha256": record["sha256"], "level": level,
            "scenario": scenario, "fragments": fragments, "fragmented": len(parts) > 1,
            "present": True})

    def whole(self, record, scenario, unit=SECTOR):
        self.align(unit)
        offset = self.out.tell()
        with open(record["path"], "rb") as f:
            self.out.write(f.read())
        self.note(record, "whole", scenario, [(0, record["size"])], {0: offset})

    def close(self, min_size):
        self.align(BLOCK)
        if self.out.tell() < min_size:
            self.random(min_size - self.out.tell())
        self.out.close()


def lay_whole(layout, picker, repeat):
    for _ in range(repeat * WHOLE_PER_FORMAT):
        for kind in FORMATS:
            layout.filler(SECTOR)
            layout.whole(picker.take(kind), "contiguous")


def lay_in_order(layout, picker, repeat):
    rng = layout.rng
    for _ in range(repeat):
        for k, kind in enumerate(FORMATS):
            for g, gap in enumerate(GAPS):
                count = 2 + (k + g) % 2
                record = picker.take(kind, (count - 1) * BLOCK)
                parts = split(record["size"], count, rng)
                layout.filler(BLOCK)
                offsets = {}
                for i in range(count):
                    if i:
                        lay_gap(layout, picker, gap, kind)
                    offsets.update(layout.pieces(record, parts, [i]))
                layout.note(record, "in-order", f"in order, gap: {gap}", parts, offsets)


def lay_gap(layout, picker, gap, kind):
    rng = layout.rng
    if gap == "random":
        layout.random(rng.randint(1, 8) * BLOCK)
    elif gap == "text":
        layout.out.write(text_bytes(rng, rng.randint(1, 4) * BLOCK))
    elif gap == "whole file":
        other = picker.take_spare(kind)
        layout.whole(other, "whole file between fragments", BLOCK)
        layout.align(BLOCK)
    else:
        layout.out.write(b"\xff\xd9" + rng.randbytes(BLOCK - 2))


def lay_intertwined(layout, picker, repeat):
    rng = layout.rng
    for _ in range(repeat):
        for kind, files, groups in INTERTWINED:
            for _ in range(groups):
                records = [picker.take(kind, 3 * BLOCK) for _ in range(files)]
                parts = [split(r["size"], rng.randint(2, min(4, -(-r["size"] // BLOCK))), rng)
                         for r in records]
                offsets = [{} for _ in records]
                layout.filler(BLOCK)
                for i in range(max(len(p) for p in parts)):
                    for f, record in enumerate(records):
                        if i < len(parts[f]):
                            offsets[f].update(layout.pieces(record, parts[f], [i]))
                scenario = f"{files} {'JPEGs' if kind == 'JPG' else 'MP3s'} intertwined"
                for f, record in enumerate(records):
                    layout.note(record, "intertwined", scenario, parts[f], offsets[f])


def lay_out_of_order(layout, picker, repeat):
    rng = layout.rng
    for _ in range(repeat):
        for kind in FORMATS:
            for order in ORDERS:
                record = picker.take(kind, (len(order) - 1) * BLOCK)
                parts = split(record["size"], len(order), rng)
                layout.filler(BLOCK)
                offsets = {}
                for position, fragment in enumerate(order):
                    if position:
                        layout.random(rng.randint(0, 4) * BLOCK)
                    offsets.update(layout.pieces(record, parts, [fragment - 1]))
                name = ",".join(map(str, order))
                layout.note(record, "out-of-order", f"out of order ({name})", parts, offsets)


# Items (a file, or a group of intertwined files) each level lays per repeat.
ITEMS = {"whole": len(FORMATS) * WHOLE_PER_FORMAT, "in-order": len(FORMATS) * len(GAPS),
         "intertwined": sum(g for _, _, g in INTERTWINED),
         "out-of-order": len(FORMATS) * len(ORDERS)}
LAYERS = {"whole": lay_whole, "in-order": lay_in_order, "intertwined": lay_intertwined,
          "out-of-order": lay_out_of_order}


def build_level(level, records, images, seed, repeat, min_size):
    rng = random.Random(f"{seed}-{level}")
    picker = Picker(records, rng)
    # Spacing from the pool's average file: the image reaches about MIN_SIZE.
    average = sum(r["size"] for r in picker.free) // max(1, len(picker.free))
    items = ITEMS[level] * repeat
    files = items * (3 if level == "intertwined" else 1)
    spacing = max(16 * BLOCK, (min_size - files * average) // items)
    image = os.path.join(images, level + ".img")
    layout = Layout(image, rng, spacing)
    layout.random(rng.randint(16, 64) * BLOCK)
    LAYERS[level](layout, picker, repeat)
    layout.close(min_size)
    write_manifest(images, level, image, layout.originals)


def write_manifest(images, level, image, originals):
    manifest = {"image": image, "kind": "fragmented", "level": level,
                "size": os.path.getsize(image), "originals": originals}
    with open(os.path.join(images, level + ".json"), "w") as f:
        json.dump(manifest, f, indent=1)
    present = [o for o in originals if o["present"]]
    fragmented = sum(1 for o in present if o["fragmented"])
    print(f"make_fragmented: {level}: {manifest['size'] >> 20} MiB, {len(present)} originals "
          f"whole in the image, {fragmented} of them fragmented")


def build_card(files, images, seed, card_mb):
    for tool in ("mkfs.fat", "mcopy"):
        if not make_files.have(tool):
            print("make_fragmented: card needs dosfstools and mtools, skipped", file=sys.stderr)
            return
    pictures = Pictures(files, seed)
    image = os.path.join(images, "card.img")
    try:
        rng = random.Random(f"{seed}-card")
        originals, cluster = camera_card.build(
            image, card_mb << 20, pictures,
            lambda path, size: make_images.fill_random(path, size, rng))
    finally:
        pictures.save()
    shot = len(originals)
    write_manifest(images, "card", image, originals)
    print(f"make_fragmented: card: {shot} pictures shot in {cluster} byte clusters, "
          f"{sum(1 for o in originals if not o['present'])} deleted ones shot over")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files")
    parser.add_argument("images")
    parser.add_argument("--seed", type=int, default=11)
    parser.add_argument("--repeat", type=int, default=1, help="scenario sets per image")
    parser.add_argument("--min-mb", type=int, default=48, help="least size of a level's image")
    parser.add_argument("--card-mb", type=int, default=160)
    parser.add_argument("--levels", default=",".join(LEVELS))
    args = parser.parse_args()
    levels = args.levels.split(",")
    unknown = [level for level in levels if level not in LEVELS]
    if unknown:
        sys.exit(f"make_fragmented: unknown level {unknown[0]} (one of {', '.join(LEVELS)})")
    if not 128 <= args.card_mb <= 320:
        sys.exit("make_fragmented: --card-mb is 128 to 320")
    os.makedirs(args.files, exist_ok=True)
    os.makedirs(args.images, exist_ok=True)
    records = make_pool(args.files, args.seed, args.repeat)
    for level in levels:
        if level == "card":
            build_card(args.files, args.images, args.seed, args.card_mb)
        else:
            build_level(level, records, args.images, args.seed, args.repeat, args.min_mb << 20)


if __name__ == "__main__":
    main()
