"""Deleted-files recovery measured against tsk_recover on volumes made by the real tools.

Each volume holds a folder tree three levels deep of real and made files; files are deleted at
every depth and three folders are deleted whole. The fragmented volume deletes every other small
file, fills the holes with larger files and deletes those. Every output is sorted by its sha256:
exact (a deleted original), under its own name, a live file (never deleted), or other (no
original: junk, or on the fragmented volume the small files whose clusters the larger deleted
files took; both tools write those).

    deleted.py --kestrel build/kestrel-cli --work /tmp/kestrel-deleted [--kinds fat32,fat16,...]
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import time

KINDS = ("fat32", "fat16", "frag32", "ntfs")
HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "..", "shared", "samples")
sys.path.insert(0, HERE)
import tools  # noqa: E402


def real_files():
    """The camera and document samples, read where they are."""
    found = []
    for root, _, names in os.walk(SAMPLES):
        found += [os.path.join(root, n) for n in names if os.path.getsize(os.path.join(root, n))]
    return sorted(found)


class Tree:
    """A folder tree staged on the host: path inside the volume -> content."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.files = {}
        self.samples = real_files()

    def content(self):
        if self.samples and self.rng.random() < 0.3:
            with open(self.rng.choice(self.samples), "rb") as handle:
                data = handle.read()
            # A few changed bytes keep every file's content unique.
            return data + self.rng.randbytes(16)
        return self.rng.randbytes(self.rng.choice([300, 2000, 9000, 40000, 150000, 700000]))

    def name(self, i):
        stem = self.rng.choice(["photo", "Report final", "notes", "IMG", "data set", "x"])
        ext = self.rng.choice([".jpg", ".pdf", ".txt", ".gz", ".c", "", ".mp3", ".DOCX", ".7z"])
        return f"{stem} {i}{ext}"

    def build(self, folders, per_folder):
        paths = [""]
        for a in range(folders):
            paths.append(f"/Dir {a}")
            for b in range(2):
                paths.append(f"/Dir {a}/Sub {b}")
                paths.append(f"/Dir {a}/Sub {b}/Deep")
        n = 0
        for folder in paths:
            for _ in range(per_folder):
                self.files[f"{folder}/{self.name(n)}"] = self.content()
                n += 1
        return paths[1:]


def stage(tree, top):
    shutil.rmtree(top, ignore_errors=True)
    for path, data in tree.files.items():
        host = top + path
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as handle:
            handle.write(data)


def run(command, **kw):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def mtools(image, *args):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    run([args[0], "-i", image, *args[1:]], env=env)


def choose_deleted(tree, folders, rng):
    """Files deleted one by one at every depth, and three folders deleted whole."""
    whole = rng.sample([f for f in folders if f.count("/") >= 2], 3)
    gone = {p for p in tree.files if any(p.startswith(w + "/") for w in whole)}
    single = [p for p in tree.files if p not in gone and rng.random() < 0.25]
    return whole, single, gone | set(single)


def make_fat(image, bits, mib, tree, folders, rng, work):
    if os.path.exists(image):
        os.remove(image)
    run(["mkfs.fat", "-F", str(bits), "-C", image, str(mib * 1024)])
    top = os.path.join(work, "stage")
    stage(tree, top)
    mtools(image, "mcopy", "-s", "-Q", *[os.path.join(top, n) for n in os.listdir(top)], "::/")
    whole, single, gone = choose_deleted(tree, folders, rng)
    for start in range(0, len(single), 200):
        mtools(image, "mdel", *["::" + p for p in single[start:start + 200]])
    for folder in whole:
        mtools(image, "mdeltree", "::" + folder)
    return gone


def make_fragmented(image, tree, rng, work):
    """Small files, every other one deleted, larger files into the holes, those deleted."""
    if os.path.exists(image):
        os.remove(image)
    run(["mkfs.fat", "-F", "32", "-s", "1", "-C", image, str(300 * 1024)])
    top = os.path.join(work, "stage")
    tree.files = {f"/small {i}.bin": rng.randbytes(rng.choice([700, 1500, 3000]))
                  for i in range(600)}
    stage(tree, top)
    mtools(image, "mcopy", "-Q", *[os.path.join(top, n) for n in sorted(os.listdir(top))], "::/")
    odd = [f"/small {i}.bin" for i in range(1, 600, 2)]
    mtools(image, "mdel", *["::" + p for p in odd])
    for p in odd:
        del tree.files[p]
    large = {f"/large {i}.dat": rng.randbytes(rng.choice([5000, 9000, 20000])) for i in range(40)}
    shutil.rmtree(top)
    os.makedirs(top)
    for path, data in large.items():
        with open(top + path, "wb") as handle:
            handle.write(data)
    mtools(image, "mcopy", "-Q", *[top + p for p in large], "::/")
    mtools(image, "mdel", *["::" + p for p in large])
    tree.files.update(large)
    return set(large)


def make_ntfs(image, tree, folders, rng, work):
    if os.path.exists(image):
        os.remove(image)
    with open(image, "wb") as handle:
        handle.truncate(600 << 20)
    run(["mkntfs", "-Q", "-F", image])
    mount = os.path.join(work, "mnt")
    os.makedirs(mount, exist_ok=True)
    run(["ntfs-3g", image, mount])
    try:
        stage(tree, mount)
        whole, single, gone = choose_deleted(tree, folders, rng)
        for path in single:
            os.remove(mount + path)
        for folder in whole:
            shutil.rmtree(mount + folder)
    finally:
        run(["umount", mount])
    return gone


def outputs(folder):
    for root, _, names in os.walk(folder):
        for name in names:
            yield os.path.join(root, name)


def judge(out, tree, gone):
    by_sha = {hashlib.sha256(d).hexdigest(): p for p, d in tree.files.items()}
    deleted_sha = {hashlib.sha256(tree.files[p]).hexdigest() for p in gone}
    exact, named, live, junk = set(), 0, 0, 0
    for path in outputs(out):
        digest = tools.sha256(path)
        if digest in deleted_sha:
            if digest not in exact and os.path.basename(path) == os.path.basename(by_sha[digest]):
                named += 1
            exact.add(digest)
        elif digest in by_sha:
            live += 1
        else:
            junk += 1
    return {"exact": len(exact), "named": named, "live": live, "other": junk}


def recover(tool, image, out, kestrel, work, runs):
    """The median time of RUNS runs; OUT holds the last run's files."""
    if tool == "kestrel":
        command = [kestrel, "deleted", image, "--out", out, "--types", "all", "-q"]
        env = dict(os.environ, KESTREL_NO_DEVICES="1",
                   KESTREL_REGISTRY=os.path.join(work, "registry.reg"))
    else:
        command = ["tsk_recover", image, out]
        env = None
    with open(image, "rb") as handle:  # in the page cache for every tool alike
        while handle.read(1 << 24):
            pass
    times = []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        start = time.monotonic()
        subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
    return sorted(times)[len(times) // 2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--work", default="/tmp/kestrel-deleted")
    parser.add_argument("--kinds", default=",".join(KINDS))
    parser.add_argument("--per-folder", type=int, default=40)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    tools = ["kestrel"] + (["tsk_recover"] if shutil.which("tsk_recover") else [])
    if len(tools) == 1:
        print("deleted: tsk_recover not found (apt-get install sleuthkit), left out", file=sys.stderr)
    table = []
    for kind in args.kinds.split(","):
        rng = random.Random(kind)
        tree = Tree(kind)
        folders = tree.build(6, args.per_folder) if kind != "frag32" else []
        image = os.path.join(args.work, kind + ".img")
        if kind == "fat32":
            gone = make_fat(image, 32, 700, tree, folders, rng, args.work)
        elif kind == "fat16":
            gone = make_fat(image, 16, 500, tree, folders, rng, args.work)
        elif kind == "frag32":
            gone = make_fragmented(image, tree, rng, args.work)
        else:
            if not shutil.which("ntfs-3g") or not os.path.exists("/dev/fuse"):
                print("deleted: no ntfs-3g or FUSE, NTFS left out", file=sys.stderr)
                continue
            gone = make_ntfs(image, tree, folders, rng, args.work)
        for tool in tools:
            out = os.path.join(args.work, "out", kind, tool)
            seconds = recover(tool, image, out, args.kestrel, args.work, args.runs)
            row = {"image": kind, "tool": tool, "deleted": len(gone), "files": len(tree.files),
                   "seconds": round(seconds, 2), **judge(out, tree, gone)}
            table.append(row)
            print(json.dumps(row), flush=True)
    print("\n| image | tool | deleted | exact | own name | live | other | seconds (median) |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |")
    for r in table:
        print(f"| {r['image']} | {r['tool']} | {r['deleted']} | {r['exact']} | {r['named']} | "
              f"{r['live']} | {r['other']} | {r['seconds']} |")


if __name__ == "__main__":
    main()
