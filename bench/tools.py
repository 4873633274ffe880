"""The carvers the benchmarks compare, with the options each is run with.

Every tool scans the whole image for every file type it knows, except the free-space variants
("kestrel-free", "photorec-free"), which carve only the clusters the image's FAT or NTFS volume
marks free and run only on images that start with such a volume. A peer that is not installed is left out with a
message; Kestrel is always required.
"""
import hashlib
import os
import shutil
import subprocess
import sys

OPTIONS = {
    "kestrel": "kestrel-cli scan IMAGE --out DIR --types all --read-errors ignore-all -q",
    "kestrel-free": "kestrel-cli scan IMAGE --free-space --out DIR --types all "
                    "--read-errors ignore-all -q (only the volume's free clusters)",
    "photorec": "photorec /log /d DIR/r /cmd IMAGE "
                "partition_none,options,paranoid,fileopt,everything,enable,wholespace,search "
                "(whole space, paranoid, every file type, its default validation)",
    "photorec-free": "photorec /log /d DIR/r /cmd IMAGE "
                     "partition_none,options,paranoid,fileopt,everything,enable,freespace,search "
                     "(the same, the volume's free space only)",
    "photorec-bf": "photorec /log /d DIR/r /cmd IMAGE "
                   "partition_none,options,paranoid_bf,fileopt,everything,enable,wholespace,search "
                   "(as photorec, with its JPEG brute force for fragmented pictures)",
    "kestrel-partial": "kestrel-cli scan IMAGE --out DIR --types all --keep-partial "
                       "--read-errors ignore-all -q (unproven files kept below partial/)",
    "kestrel-noreport": "kestrel-cli scan IMAGE --out DIR --types all --no-report "
                        "--read-errors ignore-all -q (no report.dfxml, no digests)",
    "foremost": "foremost -Q -t all -i IMAGE -o DIR (every type of its default configuration, "
                "every byte offset)",
}
# Files a tool writes about its run, not recovered files.
REPORT_FILES = {"report.xml", "photorec.log", "audit.txt", "report.dfxml"}


def sha256(path):
    """The sha256 of a file, read a megabyte at a time."""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def available(names, kestrel):
    tools = []
    for name in names:
        if program(name) == "kestrel":
            if not os.access(kestrel, os.X_OK):
                sys.exit(f"bench: {kestrel} is not built (ninja -C build-bench kestrel-cli)")
            tools.append(name)
        elif shutil.which(program(name)):
            tools.append(name)
        else:
            package = {"photorec": "testdisk", "foremost": "foremost"}[program(name)]
            print(f"bench: {name} not found (apt-get install {package}), left out", file=sys.stderr)
    return tools


def program(name):
    """The tool a variant runs: "photorec-free" and "photorec-bf" are photorec."""
    return name.split("-")[0]


def command(name, image, out, kestrel, work):
    """The command line and its working folder for one run of NAME writing into OUT."""
    image = os.path.abspath(image)
    if program(name) == "kestrel":
        extra = {"kestrel-free": ["--free-space"], "kestrel-partial": ["--keep-partial"],
                 "kestrel-noreport": ["--no-report"]}
        return [kestrel, "scan", image, *extra.get(name, []), "--out", out, "--types", "all",
                "--read-errors", "ignore-all", "-q"], work
    if program(name) == "photorec":
        os.makedirs(out, exist_ok=True)
        space = "freespace" if name == "photorec-free" else "wholespace"
        paranoid = "paranoid_bf" if name == "photorec-bf" else "paranoid"
        return ["photorec", "/log", "/d", os.path.join(out, "r"), "/cmd", image,
                f"partition_none,options,{paranoid},fileopt,everything,enable,{space},search"], out
    if name == "foremost":
        return ["foremost", "-Q", "-t", "all", "-i", image, "-o", out], work
    raise ValueError(name)


def has_volume(image):
    """True when IMAGE starts with a FAT12/16/32 or NTFS boot sector (what a free-space scan
    needs): the file system's name where mkfs.fat and mkntfs write it, and the 55 AA mark."""
    with open(image, "rb") as f:
        boot = f.read(512)
    if len(boot) < 512 or boot[510:512] != b"\x55\xaa":
        return False
    return boot[3:11] == b"NTFS    " or boot[82:87] == b"FAT32" or boot[54:57] == b"FAT"


def applies(name, image):
    """Whether NAME can scan IMAGE: a free-space variant needs a volume at the image's start."""
    return not name.endswith("-free") or has_volume(image)


def environment(work):
    # Kestrel keeps its settings in a registry file and would list the machine's devices: keep
    # both out of the measurement.
    return dict(os.environ, KESTREL_NO_DEVICES="1",
                KESTREL_REGISTRY=os.path.join(work, "registry.reg"), TERM="dumb")


def run(name, image, out, kestrel, work, timer=None):
    """Runs one tool; returns the process result. TIMER wraps the command (e.g. time -v)."""
    args, cwd = command(name, image, out, kestrel, work)
    if timer:
        args = timer + args
    return subprocess.run(args, cwd=cwd, env=environment(work), stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def outputs(name, out):
    """The recovered files a run wrote, and (PhotoRec) the Exif thumbnails it extracted."""
    files, thumbnails = [], []
    for folder, _, names in os.walk(out):
        for file in names:
            if file in REPORT_FILES:
                continue
            path = os.path.join(folder, file)
            if program(name) == "photorec" and file.startswith("t") and file.endswith(".jpg"):
                thumbnails.append(path)
            else:
                files.append(path)
    return sorted(files), thumbnails
