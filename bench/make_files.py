#!/usr/bin/env python3
"""Makes a pool of real files with real tools for the carving benchmarks.

    make_files.py OUT_DIR [--camera-mb N] [--office-mb N] [--seed S]

Writes OUT_DIR/camera/... (photos, movies, sound: what a camera card holds), OUT_DIR/office/...
(documents, archives, pictures) and OUT_DIR/files.json, one record per file:
{"path", "group", "type", "variant", "size", "sha256"}. "type" is the file's extension in capitals
(JPG, MP4, PDF...), "variant" says how it was made (e.g. "id3v2-only", "no-end-code"). Real camera
and document samples (the shared sample folder and the test fixtures) are read where they are and
listed with their own paths. A tool that is missing costs only the files it would have made.
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tools  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE_DIRS = [
    os.path.join(os.path.dirname(ROOT), "shared", "samples", "exiftool-t-images"),
    "/work/shared/samples/exiftool-t-images",
    os.path.join(ROOT, "tests", "fixtures", "samples"),
    os.path.join(ROOT, "tests", "fixtures", "structured"),
]
CAMERA_SAMPLE_TYPES = {"JPG", "CR2", "CRW", "DNG", "NEF", "RAF", "MRW", "RW2", "X3F", "AVI",
                       "MOV", "WAV", "MP3", "TIF", "MPG", "WMV"}
missing_tools = set()


def have(tool):
    if shutil.which(tool):
        return True
    if tool not in missing_tools:
        missing_tools.add(tool)
        print(f"make_files: {tool} not found, skipping the files it makes", file=sys.stderr)
    return False


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Pool:
    def __init__(self, out, seed):
        self.out = out
        self.rng = random.Random(seed)
        self.records = []
        self.serial = 0
        self.tmp = os.path.join(out, "tmp")
        os.makedirs(self.tmp, exist_ok=True)

    def path(self, group, ext):
        self.serial += 1
        folder = os.path.join(self.out, group)
        os.makedirs(folder, exist_ok=True)
        return os.path.join(folder, f"F{self.serial:05d}.{ext}")

    def add(self, path, group, variant):
        if not os.path.isfile(path) or os.path.getsize(path) == 0:
            return 0
        ext = os.path.splitext(path)[1][1:].upper()
        self.records.append({"path": path, "group": group, "type": ext, "variant": variant,
                             "size": os.path.getsize(path), "sha256": tools.sha256(path)})
        return os.path.getsize(path)

    def noise(self, size):
        path = os.path.join(self.tmp, "noise.rgb")
        with open(path, "wb") as f:
            f.write(self.rng.randbytes(size))
        return path

    def frame(self, width, height, source):
        """A PNG picture from one of ffmpeg's synthetic sources (smooth, photo-like areas), made
        distinct by a seeded grain and a hue turn."""
        path = os.path.join(self.tmp, "frame.png")
        seed = self.rng.randint(0, 1 << 30)
        if source in ("cellauto", "gradients"):
            source += f"=seed={seed}:"
        else:
            source += "="
        grain = f"noise=alls={self.rng.randint(2, 12)}:all_seed={seed},hue=h={self.rng.randint(0, 359)}"
        run("ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i",
            f"{source}size={width}x{height}:rate=1", "-vf", grain, "-frames:v", "1", path)
        return path


# ---- pictures ---------------------------------------------------------------------------------

JPEG_WIDTHS = [640, 1024, 1600, 2048, 2592]


def jpeg(pool, group, big=False, widths=JPEG_WIDTHS):
    if not have("gm"):
        return 0
    path = pool.path(group, "jpg")
    if big:
        # Camera-sized: over 10 MiB, noise-heavy so the entropy-coded data is long.
        width, height = 3264, 2448
        src = pool.noise(width * height * 3)
        run("gm", "convert", "-size", f"{width}x{height}", "-depth", "8", f"rgb:{src}",
            "-quality", "95", path)
        variant = "over-10MiB"
    else:
        width = pool.rng.choice(widths)
        height = width * 3 // 4
        if pool.have_ffmpeg and pool.rng.random() < 0.6:
            source = pool.rng.choice(["testsrc2", "gradients", "smptehdbars", "cellauto"])
            src = pool.frame(width, height, source)
            args = [src]
        else:
            src = pool.noise(width * height * 3 // 4)
            args = ["-size", f"{width}x{height // 4}", "-depth", "8", f"rgb:{src}", "-resize",
                    f"{width}x{height}!"]
        progressive = pool.rng.random() < 0.2
        extra = ["-interlace", "Line"] if progressive else []
        run("gm", "convert", *args, *extra, "-quality", str(pool.rng.choice([85, 90, 95])), path)
        variant = "progressive" if progressive else "baseline"
    if shutil.which("exiv2") and pool.rng.random() < 0.8:
        # Exif block and an embedded thumbnail, as cameras write them.
        thumb = path[:-4] + "-thumb.jpg"
        run("gm", "convert", path, "-thumbnail", "160x120", "-quality", "80", thumb)
        run("exiv2", "-M", "set Exif.Image.Make KestrelCam", "-M", "set Exif.Image.Model Bench 1",
            "mo", path)
        run("exiv2", "-it", path)
        os.remove(thumb)
        variant += "+exif-thumb"
        if group == "camera" and pool.rng.random() < 0.75:
            # Cameras write the Exif block first, with no JFIF segment before it.
            drop_jfif(path)
            variant += "-first"
    return pool.add(path, group, variant)


def drop_jfif(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[2:4] == b"\xff\xe0" and data[6:11] == b"JFIF\x00":
        length = int.from_bytes(data[4:6], "big")
        if data[4 + length:6 + length] == b"\xff\xe1":
            with open(path, "wb") as f:
                f.write(data[:2] + data[4 + length:])


def pictures(pool, group):
    total = 0
    if not have("gm"):
        return 0
    for kind in ["png", "gif", "bmp", "tif", "tif-tiled", "tif-msb"]:
        width = pool.rng.choice([320, 640, 800])
        src = pool.frame(width, width * 3 // 4, pool.rng.choice(["testsrc2", "gradients"])) \
            if pool.have_ffmpeg else None
        if src is None:
            continue
        if kind == "gif":
            # An animated GIF of several frames.
            frames = [pool.frame(width // 2, width * 3 // 8, "testsrc2") for _ in range(1)]
            copies = []
            for i in range(4):
                copy = os.path.join(pool.tmp, f"gif{i}.png")
                run("gm", "convert", frames[0], "-rotate", str(90 * i), "-resize",
                    f"{width // 2}x{width * 3 // 8}!", copy)
                copies.append(copy)
            path = pool.path(group, "gif")
            run("gm", "convert", "-delay", "20", *copies, path)
            total += pool.add(path, group, "animated")
        elif kind == "tif-tiled":
            if not have("tiffcp"):
                continue
            strips = os.path.join(pool.tmp, "strips.tif")
            run("gm", "convert", src, strips)
            path = pool.path(group, "tif")
            run("tiffcp", "-t", "-w", "64", "-l", "64", strips, path)
            total += pool.add(path, group, "tiled")
        elif kind == "tif-msb":
            path = pool.path(group, "tif")
            run("gm", "convert", src, "-endian", "MSB", path)
            total += pool.add(path, group, "strips-big-endian")
        else:
            path = pool.path(group, kind.split("-")[0])
            run("gm", "convert", src, path)
            total += pool.add(path, group, "strips" if kind == "tif" else "plain")
    return total


# ---- movies and sound -------------------------------------------------------------------------

def movie(pool, group, kind, small=False):
    """One movie of KIND; SMALL ones (a few hundred KB) are shorter, smaller and thinner."""
    if not pool.have_ffmpeg:
        return 0
    seconds = pool.rng.choice([1, 2, 3] if small else [3, 5, 8])
    size = pool.rng.choice(["320x240", "480x360"] if small else ["640x480", "1280x720"])
    video = ["-f", "lavfi", "-i", f"testsrc2=size={size}:rate=25:duration={seconds}",
             "-f", "lavfi", "-i", f"sine=frequency={pool.rng.randint(200, 900)}:duration={seconds}"]
    base = ["ffmpeg", "-y", "-v", "error", *video]
    bitrate = ["-b:v", f"{pool.rng.choice([300, 500, 800] if small else [1000, 2000, 4000])}k"]
    if kind in ("mp4", "mp4-faststart", "mov", "3gp", "m4a"):
        ext = {"mp4-faststart": "mp4", "m4a": "m4a"}.get(kind, kind)
        path = pool.path(group, ext)
        if kind == "m4a":
            subprocess.run(["ffmpeg", "-y", "-v", "error", *video[4:], "-c:a", "aac", "-f", "ipod",
                            path], check=True)
        else:
            codec = ["-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", *bitrate,
                     "-c:a", "aac"]
            flags = ["-movflags", "+faststart"] if kind == "mp4-faststart" else []
            subprocess.run([*base, *codec, *flags, "-shortest", path], check=True)
        variant = {"mp4": "ftyp-moov-last", "mp4-faststart": "ftyp-moov-first",
                   "mov": "ftyp-qt", "3gp": "ftyp-3gp", "m4a": "ftyp-M4A"}[kind]
    elif kind == "avi":
        path = pool.path(group, "avi")
        subprocess.run([*base, "-c:v", "mpeg4", *bitrate, "-c:a", "libmp3lame", "-shortest", path],
                       check=True)
        variant = "mpeg4+mp3"
    elif kind == "wmv":
        path = pool.path(group, "wmv")
        subprocess.run([*base, "-c:v", "wmv2", *bitrate, "-c:a", "wmav2", "-shortest", path],
                       check=True)
        variant = "asf-wmv2+wma2"
    elif kind in ("mpg1", "mpg2", "mpg1-noend", "mpg2-noend"):
        path = pool.path(group, "mpg")
        if kind.startswith("mpg1"):
            codec = ["-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"]
        else:
            codec = ["-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"]
        subprocess.run([*base, *codec, *bitrate, "-shortest", path], check=True)
        variant = "mpeg1-ps" if kind.startswith("mpg1") else "mpeg2-ps"
        if kind.endswith("noend"):
            with open(path, "rb+") as f:
                f.seek(-4, os.SEEK_END)
                if f.read(4) == b"\x00\x00\x01\xb9":
                    f.seek(-4, os.SEEK_END)
                    f.truncate()
            variant += "-no-end-code"
    else:
        raise ValueError(kind)
    return pool.add(path, group, variant)


def mp3(pool, group, tags):
    if not pool.have_ffmpeg:
        return 0
    seconds = pool.rng.choice([5, 20, 60])
    path = pool.path(group, "mp3")
    args = ["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i",
            f"sine=frequency={pool.rng.randint(200, 900)}:duration={seconds}", "-c:a", "libmp3lame"]
    meta = ["-metadata", "title=Bench tone", "-metadata", "artist=Kestrel"]
    if tags == "id3v2-only":
        args += [*meta, "-id3v2_version", "3", "-write_id3v1", "0", "-b:a", "128k"]
    elif tags == "id3v1-only":
        args += [*meta, "-id3v2_version", "0", "-write_id3v1", "1", "-b:a", "128k"]
    elif tags == "id3v1+v2":
        args += [*meta, "-id3v2_version", "3", "-write_id3v1", "1", "-b:a", "192k"]
    elif tags == "untagged":
        args += ["-id3v2_version", "0", "-write_id3v1", "0", "-write_xing", "0", "-b:a", "128k"]
    elif tags == "vbr-xing":
        args += ["-id3v2_version", "0", "-write_id3v1", "0", "-q:a", "2"]
    subprocess.run([*args, "-f", "mp3", path], check=True)
    return pool.add(path, group, tags)


def sound(pool, group, kind):
    if not have("sox"):
        return 0
    seconds = pool.rng.choice([2, 5, 10])
    freq = pool.rng.randint(200, 900)
    if kind == "aif":
        path = pool.path(group, "aif")
        run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", str(seconds), "sine",
            str(freq))
        return pool.add(path, group, "sox")
    path = pool.path(group, "wav")
    run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", str(seconds), "sine",
        str(freq), "tremolo", "5")
    variant = "sox"
    if kind == "wav-ffd8":
        # Sample data that holds a JPEG/JFIF start at a sector boundary of the file.
        with open(path, "rb+") as f:
            for offset in range(8192, os.path.getsize(path) - 512, 65536):
                f.seek(offset)
                f.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
        variant = "ffd8-at-sector"
    return pool.add(path, group, variant)


# ---- documents and archives -------------------------------------------------------------------

def pdf(pool, group, incremental=False):
    if not have("gs"):
        return 0
    pages = pool.rng.randint(1, 12)
    ps = os.path.join(pool.tmp, "doc.ps")
    with open(ps, "w") as f:
        f.write("%!PS\n/Helvetica findfont 14 scalefont setfont\n")
        for page in range(pages):
            for line in range(40):
                words = " ".join(pool.rng.choice(["kestrel", "carving", "sector", "cluster",
                                                  "volume", "report", "budget", "minutes"])
                                 for _ in range(8))
                f.write(f"50 {760 - line * 18} moveto ({page} {line} {words}) show\n")
            f.write(f"{pool.rng.random():.3f} setgray 100 100 200 150 rectfill\nshowpage\n")
    path = pool.path(group, "pdf")
    run("gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", f"-sOutputFile={path}", ps)
    variant = "gs"
    if incremental:
        append_pdf_update(path)
        variant = "incremental-update"
    return pool.add(path, group, variant)


def append_pdf_update(path):
    """Appends an incremental update (a new Info object, xref section with /Prev, trailer)."""
    with open(path, "rb") as f:
        data = f.read()
    start = int(data[data.rindex(b"startxref") + 9:].split()[0])
    trailer = data[data.rindex(b"trailer"):]
    size = int(trailer.split(b"/Size")[1].split()[0])
    root = trailer.split(b"/Root")[1].split(b"R")[0].strip() + b" R"
    obj = f"{size} 0 obj\n<< /Title (Updated by the bench) /Producer (Kestrel bench) >>\nendobj\n"
    body_offset = len(data) + 1
    xref_offset = body_offset + len(obj)
    update = (f"\n{obj}xref\n{size} 1\n{body_offset:010d} 00000 n \ntrailer\n"
              f"<< /Size {size + 1} /Root {root.decode()} /Info {size} 0 R /Prev {start} >>\n"
              f"startxref\n{xref_offset}\n%%EOF\n")
    with open(path, "ab") as f:
        f.write(update.encode())


def rtf(pool, group, binary):
    path = pool.path(group, "rtf")
    body = []
    for i in range(pool.rng.randint(20, 200)):
        body.append(r"{\pard\b Paragraph %d\b0 {\i nested {\ul deeper}} with \{escaped\} braces"
                    r" and a \\ backslash.\par}" % i)
    data = (rb"{\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Times New Roman;}}{\info{\title Bench}}"
            + "\n".join(body).encode())
    if binary:
        # Binary data that holds braces is only right when counted by \binN.
        blob = pool.rng.randbytes(60).replace(b"}", b"x") + b"}}{{"
        data += rb"{\*\blob\bin64 " + blob + b"}"
    with open(path, "wb") as f:
        f.write(data + b"}\n")
    return pool.add(path, group, "nested+bin" if binary else "nested")


def archives(pool, group):
    if not have("zip"):
        return 0
    total = 0
    folder = os.path.join(pool.tmp, "ziptree")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "notes"))
    for i in range(pool.rng.randint(3, 12)):
        with open(os.path.join(folder, "notes", f"note{i}.txt"), "w") as f:
            f.write(" ".join(str(pool.rng.random()) for _ in range(pool.rng.randint(50, 4000))))
    with open(os.path.join(folder, "blob.bin"), "wb") as f:
        f.write(pool.rng.randbytes(pool.rng.randint(1000, 300000)))
    path = pool.path(group, "zip")
    subprocess.run(["zip", "-q", "-r", os.path.abspath(path), "."], cwd=folder, check=True)
    total += pool.add(path, group, "deflated")
    # A ZIP that holds another ZIP stored (not compressed), as backup tools write them.
    outer = pool.path(group, "zip")
    inner = os.path.join(pool.tmp, "inner.zip")
    shutil.copy(path, inner)
    subprocess.run(["zip", "-q", "-0", os.path.abspath(outer), "inner.zip"], cwd=pool.tmp,
                   check=True)
    total += pool.add(outer, group, "stored-zip-inside")
    return total


def office(pool, group):
    total = 0
    try:
        import docx  # python3-docx
        document = docx.Document()
        document.add_heading("Bench report", 0)
        for i in range(pool.rng.randint(5, 80)):
            document.add_paragraph(f"Paragraph {i}: " + " ".join(
                str(pool.rng.random()) for _ in range(30)))
        path = pool.path(group, "docx")
        document.save(path)
        total += pool.add(path, group, "python-docx")
    except ImportError:
        print("make_files: python3-docx not found, no DOCX", file=sys.stderr)
    try:
        import openpyxl  # python3-openpyxl
        book = openpyxl.Workbook()
        sheet = book.active
        for row in range(pool.rng.randint(10, 400)):
            sheet.append([pool.rng.random() for _ in range(8)])
        path = pool.path(group, "xlsx")
        book.save(path)
        total += pool.add(path, group, "openpyxl")
    except ImportError:
        print("make_files: python3-openpyxl not found, no XLSX", file=sys.stderr)
    return total


WORDS = ["kestrel", "carving", "sector", "cluster", "volume", "report", "budget", "minutes",
         "fragment", "header", "camera", "invoice"]


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def compound_documents(pool, group, count):
    """COUNT each of Word, Excel and PowerPoint 97 files (OLE2 compound documents): XLS written by
    xlwt, DOC and PPT converted headless by LibreOffice from DOCX (python-docx) and from flat ODF
    presentations. LibreOffice runs once per kind with a private profile."""
    total = 0
    try:
        import xlwt  # python3-xlwt
        for _ in range(count):
            book = xlwt.Workbook()
            sheet = book.add_sheet("Bench")
            for row in range(pool.rng.randint(150, 2500)):
                sheet.write(row, 0, words(pool.rng, 2))
                for column in range(1, 7):
                    sheet.write(row, column, pool.rng.random())
            path = pool.path(group, "xls")
            book.save(path)
            total += pool.add(path, group, "xlwt")
    except ImportError:
        print("make_files: python3-xlwt not found, no XLS", file=sys.stderr)
    if not have("soffice"):
        return total
    sources = os.path.join(pool.tmp, "lo-sources")
    shutil.rmtree(sources, ignore_errors=True)
    os.makedirs(sources)
    for ext, write in (("doc", word_source), ("ppt", presentation_source)):
        targets = []
        for _ in range(count):
            target = pool.path(group, ext)
            stem = os.path.splitext(os.path.basename(target))[0]
            if write(pool.rng, os.path.join(sources, stem)):
                targets.append(target)
        inputs = [os.path.join(sources, f) for f in sorted(os.listdir(sources))]
        profile = "file://" + os.path.join(pool.tmp, "lo-profile")
        subprocess.run(["soffice", f"-env:UserInstallation={profile}", "--headless",
                        "--convert-to", ext, "--outdir", os.path.join(pool.out, group), *inputs],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        for target in targets:
            total += pool.add(target, group, "libreoffice")
        for name in os.listdir(sources):
            os.remove(os.path.join(sources, name))
    return total


def word_source(rng, stem):
    try:
        import docx  # python3-docx
    except ImportError:
        print("make_files: python3-docx not found, no DOC", file=sys.stderr)
        return False
    document = docx.Document()
    document.add_heading("Bench memo", 0)
    for i in range(rng.randint(5, 120)):
        document.add_paragraph(f"Paragraph {i}: " + words(rng, 40))
    document.save(stem + ".docx")
    return True


def presentation_source(rng, stem):
    """A flat ODF presentation (one XML file) of a few slides of text."""
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"')
    slides = []
    for i in range(rng.randint(2, 12)):
        lines = "".join(f"<text:p>{words(rng, 8)}</text:p>" for _ in range(rng.randint(2, 8)))
        slides.append(f'<draw:page draw:name="s{i}"><draw:frame svg:x="2cm" svg:y="2cm" '
                      f'svg:width="22cm" svg:height="14cm"><draw:text-box>{lines}'
                      f'</draw:text-box></draw:frame></draw:page>')
    with open(stem + ".fodp", "w") as f:
        f.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {ns} office:version='
                '"1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">'
                f'<office:body><office:presentation>{"".join(slides)}</office:presentation>'
                '</office:body></office:document>\n')
    return True


def samples(pool):
    seen = set()
    for folder in SAMPLE_DIRS:
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            path = os.path.realpath(os.path.join(folder, name))
            ext = os.path.splitext(name)[1][1:].upper()
            if path in seen or ext in ("MD", "SH", "PY", "GZ", "") or not os.path.isfile(path):
                continue
            seen.add(path)
            group = "camera" if ext in CAMERA_SAMPLE_TYPES else "office"
            before = len(pool.records)
            pool.add(path, group, "sample")
            if len(pool.records) > before:
                pool.records[-1]["sample"] = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out")
    parser.add_argument("--camera-mb", type=int, default=110)
    parser.add_argument("--office-mb", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    pool = Pool(args.out, args.seed)
    pool.have_ffmpeg = have("ffmpeg")

    samples(pool)
    # Camera card: mostly photos, some movies and sound, one camera-sized JPEG per 128 MiB.
    budget = args.camera_mb << 20
    made = 0
    movies = ["mp4", "mp4-faststart", "mov", "avi", "mpg1", "mpg2", "mpg1-noend", "mpg2-noend",
              "3gp", "m4a"]
    tags = ["id3v2-only", "id3v1-only", "id3v1+v2", "untagged", "vbr-xing"]
    step = 0
    while made < budget:
        if step % 40 == 0:
            made += jpeg(pool, "camera", big=True)
        elif step % 4 == 1:
            made += movie(pool, "camera", movies[(step // 4) % len(movies)])
        elif step % 8 == 2:
            made += mp3(pool, "camera", tags[(step // 8) % len(tags)])
        elif step % 16 == 3:
            made += sound(pool, "camera", "wav-ffd8" if step % 32 == 3 else "wav")
        else:
            made += jpeg(pool, "camera")
        step += 1
    # Office partition: documents, archives, pictures.
    budget = args.office_mb << 20
    made = 0
    step = 0
    while made < budget:
        made += pdf(pool, "office", incremental=step % 3 == 1)
        made += rtf(pool, "office", binary=step % 2 == 1)
        made += archives(pool, "office")
        made += office(pool, "office")
        made += pictures(pool, "office")
        if step % 2 == 0:
            made += sound(pool, "office", "aif")
        step += 1
    shutil.rmtree(pool.tmp, ignore_errors=True)
    with open(os.path.join(args.out, "files.json"), "w") as f:
        json.dump(pool.records, f, indent=1)
    counts = {}
    for record in pool.records:
        counts[record["type"]] = counts.get(record["type"], 0) + 1
    print(f"make_files: {len(pool.records)} files in {args.out}: " +
          ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))


if __name__ == "__main__":
    main()
