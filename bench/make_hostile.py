#!/usr/bin/env python3
"""Builds crafted images that a carver which follows a format's own structures must survive:
every run over them has to end in bounded time with a bounded number of files.

    make_hostile.py IMAGES_DIR [--seed N]

  hostile-jpeg-ffd9   thousands of JPEG headers, each followed by a sector starting FF D9
  hostile-zip-cd      a ZIP central directory (ZIP64 end record) listing 100,000 members at
                      absurd local-header offsets
  hostile-pdf-xref    PDFs whose 100,000 xref entries all point at one object, and one whose
                      trailer's /Prev points back at its own xref section
  hostile-mp3-chain   32 MiB of valid-looking MPEG-1 Layer III frames in one chain, and an ID3v2
                      tag claiming 256 MiB in front of more frames
  hostile-cfb-loop    compound documents whose chains loop: the directory chain, a stream's
                      chain on itself, the DIFAT chain on itself, and an absurd FAT sector count
  hostile-zip-walk    1,000 archives of one stored 30 KB member whose CRC-32 is wrong, each with
                      its directory and end record: every one sends the search for fragments
                      through its candidates
  hostile-pdf-walk    2,000 PDFs whose cross-reference tables place 200 objects each, every
                      file's "startxref" ahead of its header: every one sends the search for its
                      fragments through a window full of object headers, tables and tails
  hostile-jpeg-walk   400 copies of one JPEG (drawn by ffmpeg, compressed by cjpeg), each with
                      one 4 KiB unit of its data overwritten: every copy sends the search for
                      its fragments through the others' units, which all decode on with it
  hostile-avi-index   1,000 AVIs whose index places a chunk header that is not there, after a
                      chunk of 60 KB: every one sends the search for fragments through every
                      boundary inside that chunk and every unit within reach
  hostile-mpeg-walk   1,000 MPEG-2 program streams of one unit, each followed by a unit of random
                      bytes and 32 units of packs that go on with its clock: every stream sends
                      the search for its fragments through hundreds of candidates
  hostile-mov-walk    400 copies of one MP4 (H.264 and AAC by ffmpeg, movie box last), each with
                      one 4 KiB unit overwritten: every copy finds the others' movie boxes alike
                      and sends the search for its fragments through their units, which hold its
                      samples at the same places; and 1,000 movie starts whose media data has no
                      movie box after it, each sending the movie box search through 512 units
  hostile-cfb-walk    300 workbooks of 600 to 899 rows (by xlwt), each with the unit of its header
                      after the rest (its FAT before its header) and one unit of its stream
                      overwritten: every one sends the search for its fragments through the
                      others' units, which go on with its records and rows alike

Each image IMAGES_DIR/NAME.img starts and ends with random bytes and gets a manifest
IMAGES_DIR/NAME.json: {"image", "kind": "hostile", "what", "size", "originals": []}.
"""
import argparse
import io
import json
import os
import random
import shutil
import struct
import subprocess
import tempfile

SECTOR = 512


def u16(value):
    return struct.pack("<H", value)


def u32(value):
    return struct.pack("<I", value)


def u32be(value):
    return struct.pack(">I", value)


def jpeg_headers(rng, count=8192):
    """A header sector (SOI, JFIF, one quantisation table, a frame and a scan header, then
    entropy-coded bytes without markers) followed by a sector starting with the end marker."""
    header = (b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
              b"\xff\xdb\x00\x43\x00" + bytes(range(1, 65)) +
              b"\xff\xc0\x00\x0b\x08\x00\x10\x00\x10\x01\x01\x11\x00"
              b"\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00")
    out = bytearray()
    for _ in range(count):
        scan = rng.randbytes(SECTOR - len(header)).replace(b"\xff", b"\xfe")
        out += header + scan + b"\xff\xd9" + rng.randbytes(SECTOR - 2)
    return bytes(out)


def zip_directory(rng, members=100_000):
    """One stored member, then a central directory of MEMBERS entries whose local headers lie
    at absurd offsets (past any image, inside the directory itself, or at the very end)."""
    name = b"a.txt"
    body = b"kestrel\n"
    local = (b"PK\x03\x04" + u16(10) + u16(0) + u16(0) + u32(0) + u32(0) + u32(len(body)) +
             u32(len(body)) + u16(len(name)) + u16(0) + name + body)
    directory = bytearray()
    for i in range(members):
        member = f"m{i:06d}.txt".encode()
        offset = rng.choice([0xFFFFFFF0 - i, rng.randrange(len(local), 1 << 31), 0x7FFFFFFF,
                             len(local) + len(directory)])
        directory += (b"PK\x01\x02" + u16(20) + u16(10) + u16(0) + u16(0) + u32(0) + u32(0) +
                      u32(rng.randrange(1 << 32)) + u32(rng.randrange(1 << 32)) +
                      u16(len(member)) + u16(0) + u16(0) + u16(0) + u16(0) + u32(0) +
                      u32(offset) + member)
    start = len(local)
    end64 = start + len(directory)
    record64 = (b"PK\x06\x06" + struct.pack("<Q", 44) + u16(45) + u16(45) + u32(0) + u32(0) +
                struct.pack("<QQQQ", members, members, len(directory), start))
    locator = b"PK\x06\x07" + u32(0) + struct.pack("<Q", end64) + u32(1)
    end = (b"PK\x05\x06" + u16(0) + u16(0) + u16(0xFFFF) + u16(0xFFFF) + u32(0xFFFFFFFF) +
           u32(0xFFFFFFFF) + u16(0))
    return local + bytes(directory) + record64 + locator + end


def pdf_one_object(entries=100_000):
    head = b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"
    target = len(head)
    body = head + b"1 0 obj\n<< /Type /Catalog /Pages 1 0 R >>\nendobj\n"
    xref = len(body)
    table = b"".join(b"%010d 00000 n \n" % target for _ in range(entries))
    return (body + b"xref\n0 %d\n" % entries + table +
            b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (entries, xref))


def pdf_prev_loop():
    head = b"%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n"
    xref = len(head)
    return (head + b"xref\n0 2\n0000000000 65535 f \n0000000009 00000 n \n"
            b"trailer\n<< /Size 2 /Root 1 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n"
            % (xref, xref))


def mp3_frames(rng, size):
    """MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz (417 bytes each), random contents."""
    frame_header = b"\xff\xfb\x90\x44"
    frame = 144 * 128000 // 44100
    out = bytearray()
    while len(out) < size:
        out += frame_header + rng.randbytes(frame - 4)
    return bytes(out)


def absurd_id3():
    """An ID3v2.3 tag whose (syncsafe) size claims 256 MiB."""
    return b"ID3\x03\x00\x00\x7f\x7f\x7f\x7f" + b"TIT2" + u32(0) + b"\x00\x00"


def cfb(variant):
    """A compound document of 512-byte sectors: header, FAT in sector 0, directory in sector 1,
    its chains broken as VARIANT says."""
    free = 0xFFFFFFFF
    end = 0xFFFFFFFE
    fat_sectors, difat_start, difat_count = 1, end, 0
    fat = [0xFFFFFFFD, end, end, end, end]
    stream_size = 1000
    if variant == "directory chain loops":
        fat[1], fat[2] = 2, 1
    elif variant == "stream chain loops on itself":
        fat[3] = 3
        stream_size = 1 << 30
    elif variant == "DIFAT chain loops on itself":
        difat_start, difat_count = 4, 1 << 20
    elif variant == "absurd FAT sector count":
        fat_sectors = 0x7FFFFFFF
    header = (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + bytes(16) + u16(0x3E) + u16(3) + u16(0xFFFE) +
              u16(9) + u16(6) + bytes(6) + u32(0) + u32(fat_sectors) + u32(1) + u32(0) +
              u32(4096) + u32(end) + u32(0) + u32(difat_start) + u32(difat_count) + u32(0) +
              u32(free) * 108)
    fat_sector = b"".join(u32(v) for v in fat) + u32(free) * (128 - len(fat))
    directory = entry("Root Entry", 5, 1, end, 0) + entry("WordDocument", 2, free, 3,
                                                          stream_size)
    directory += bytes(SECTOR - len(directory))
    difat = u32(free) * 127 + u32(4)
    return header + fat_sector + directory + directory + bytes(SECTOR) + difat


def entry(name, kind, child, start, size):
    encoded = name.encode("utf-16-le") + b"\x00\x00"
    return (encoded + bytes(64 - len(encoded)) + u16(len(encoded)) + bytes([kind, 1]) +
            u32(0xFFFFFFFF) + u32(0xFFFFFFFF) + u32(child) + bytes(16) + u32(0) + bytes(16) +
            u32(start) + u32(size) + u32(0))


def broken_archive(rng, size=30_000):
    """A whole-looking archive of one stored member of SIZE random bytes with a wrong CRC-32."""
    name = b"a.bin"
    body = rng.randbytes(size)
    crc = 0x12345678
    local = (b"PK\x03\x04" + u16(10) + u16(0) + u16(0) + u32(0) + u32(crc) + u32(size) +
             u32(size) + u16(len(name)) + u16(0) + name + body)
    entry = (b"PK\x01\x02" + u16(20) + u16(10) + u16(0) + u16(0) + u32(0) + u32(crc) +
             u32(size) + u32(size) + u16(len(name)) + u16(0) + u16(0) + u16(0) + u16(0) +
             u32(0) + u32(0) + name)
    end = (b"PK\x05\x06" + u16(0) + u16(0) + u16(1) + u16(1) + u32(len(entry)) +
           u32(len(local)) + u16(0))
    return local + entry + end


def pdf_tail_first(rng, objects=200):
    """A PDF whose objects all read "1 0 obj", with its table, trailer and "%%EOF" laid before
    its header, so that its carve never meets its end."""
    body = bytearray(b"%PDF-1.4\n")
    offsets = []
    for _ in range(objects):
        offsets.append(len(body))
        body += b"1 0 obj\n<< /Filler " + str(rng.randrange(1 << 30)).encode() + b" >>\nendobj\n"
    table = b"xref\n0 %d\n" % (objects + 1) + b"0000000000 65535 f \n" + b"".join(
        b"%010d 00000 n \n" % offset for offset in offsets)
    tail = table + b"trailer\n<< /Size %d >>\nstartxref\n%d\n%%%%EOF\n" % (objects + 1, len(body))
    return tail + rng.randbytes(4096) + bytes(body)


def drawn_jpeg():
    """A 1024 x 768 picture of colour waves and grain, as cjpeg compresses it; None without
    ffmpeg or cjpeg."""
    if not shutil.which("ffmpeg") or not shutil.which("cjpeg"):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        ppm, jpg = os.path.join(tmp, "p.ppm"), os.path.join(tmp, "p.jpg")
        waves = "format=rgb24,geq=r='128+40*sin(X/23+Y/41)':g='128+35*sin(X/57+Y/13)':" \
                "b='128+30*sin(X/17+Y/66)',noise=alls=12:all_seed=3"
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "color=black:size=1024x768:rate=1", "-vf", waves, "-frames:v", "1", ppm],
                       check=True)
        subprocess.run(["cjpeg", "-quality", "90", "-outfile", jpg, ppm], check=True)
        with open(jpg, "rb") as f:
            return f.read()


def overwritten_copies(rng, jpeg, copies=400, unit=4096):
    """COPIES copies of JPEG, each with one unit of its data (past its first) overwritten."""
    out = []
    for _ in range(copies):
        at = rng.randrange(1, len(jpeg) // unit - 1) * unit
        out.append(jpeg[:at] + rng.randbytes(unit) + jpeg[at + unit:])
    return out


def drawn_mp4():
    """Four seconds of H.264 video and AAC sound in an MP4, movie box last; None without
    ffmpeg or libx264."""
    if not shutil.which("ffmpeg"):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        mp4 = os.path.join(tmp, "m.mp4")
        done = subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                               "testsrc2=size=640x480:rate=25:duration=4", "-f", "lavfi", "-i",
                               "sine=duration=4", "-c:v", "libx264", "-preset", "veryfast",
                               "-pix_fmt", "yuv420p", "-b:v", "1000k", "-c:a", "aac", "-shortest",
                               mp4])
        if done.returncode != 0:
            return None
        with open(mp4, "rb") as f:
            return f.read()


def movie_without_box(rng):
    """A movie start (ftyp, then 64 KiB of media data) with no movie box anywhere."""
    ftyp = u32be(32) + b"ftypisom" + u32be(0x200) + b"isomiso2avc1mp41"
    return ftyp + u32be(8 + (64 << 10)) + b"mdat" + rng.randbytes(64 << 10)


def avi_broken_index(rng):
    """An AVI whose idx1 places a second chunk after a first of about 60 KB, where random bytes
    lie."""
    avih = b"avih" + u32(56) + bytes(56)
    hdrl = b"LIST" + u32(4 + len(avih)) + b"hdrl" + avih
    size = 60000 + 2 * rng.randrange(2000)  # an index of its own
    first = b"00dc" + u32(size) + rng.randbytes(size)
    movi_data = first + rng.randbytes(8 + 1000)
    movi = b"LIST" + u32(4 + len(movi_data)) + b"movi" + movi_data
    index = (b"00dc" + u32(0x10) + u32(4) + u32(size) +
             b"01wb" + u32(0) + u32(4 + len(first)) + u32(1000))
    idx1 = b"idx1" + u32(len(index)) + index
    body = b"AVI " + hdrl + movi + idx1
    return b"RIFF" + u32(len(body)) + body


def mpeg2_pack(clock, mux_rate=25200):
    """An MPEG-2 pack header (14 bytes) with the 33-bit clock reference CLOCK."""
    return bytes([0, 0, 1, 0xBA,
                  0x44 | (clock >> 27 & 0x38) | (clock >> 28 & 0x03), clock >> 20 & 0xFF,
                  0x04 | (clock >> 12 & 0xF8) | (clock >> 13 & 0x03), clock >> 5 & 0xFF,
                  0x04 | (clock << 3 & 0xF8), 0x01,
                  mux_rate >> 14 & 0xFF, mux_rate >> 6 & 0xFF, (mux_rate << 2 & 0xFC) | 0x03,
                  0xF8])


def mpeg2_packs(rng, first_clock, count, system_header=False):
    """COUNT packs of 2 KiB with rising clocks, each filled with a padding packet."""
    out = bytearray()
    for k in range(count):
        pack = mpeg2_pack(first_clock + 3 * k)
        if system_header and k == 0:
            pack += bytes([0, 0, 1, 0xBB, 0, 12, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0x7F,
                           0xBE, 0xE0, 0x20, 0xC0, 0xC0, 0x20])
        pad = 2048 - len(pack) - 6
        out += pack + bytes([0, 0, 1, 0xBE, pad >> 8, pad & 0xFF]) + rng.randbytes(pad)
    return bytes(out)


def mpeg_orphans(rng):
    """A stream of one 4 KiB unit, a unit of random bytes, then 32 units of packs that go on with
    its clock (each one a candidate for where the stream goes on)."""
    return (mpeg2_packs(rng, 1000, 2, system_header=True) + rng.randbytes(4096) +
            mpeg2_packs(rng, 1100, 64))


def xlwt_workbook(rows):
    """A workbook of ROWS rows of a number, a word and a fraction, as xlwt writes it (its FAT and
    directory last); None without xlwt."""
    try:
        import xlwt
    except ImportError:
        return None
    book = xlwt.Workbook()
    sheet = book.add_sheet("s")
    for row in range(rows):
        sheet.write(row, 0, row * 7)
        sheet.write(row, 1, "row %d" % row)
        sheet.write(row, 2, row / 3.0)
    out = io.BytesIO()
    book.save(out)
    return out.getvalue()


def workbook_header_last(rng, book, unit=4096):
    """BOOK with the unit of its header after the rest, and one unit of its stream (not the
    last, which holds its FAT and directory) overwritten."""
    head, rest = book[:unit], book[unit:]
    rest += bytes(-len(rest) % unit)
    at = rng.randrange(1, len(rest) // unit - 1) * unit
    return rest[:at] + rng.randbytes(unit) + rest[at + unit:] + head


def build(images, name, what, pieces, rng, align=SECTOR):
    image = os.path.join(images, name + ".img")
    with open(image, "wb") as f:
        f.write(rng.randbytes(64 << 10))
        for piece in pieces:
            f.write(piece + rng.randbytes(-len(piece) % align))
            f.write(rng.randbytes(rng.randint(1, 16) * align))
        f.write(rng.randbytes(1 << 20))
    manifest = {"image": image, "kind": "hostile", "what": what,
                "size": os.path.getsize(image), "originals": []}
    with open(os.path.join(images, name + ".json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print(f"make_hostile: {name}: {manifest['size'] >> 20} MiB, {what}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("images")
    parser.add_argument("--seed", type=int, default=13)
    args = parser.parse_args()
    os.makedirs(args.images, exist_ok=True)
    rng = random.Random(args.seed)
    build(args.images, "hostile-jpeg-ffd9", "8,192 JPEG headers, each before a sector starting "
          "FF D9", [jpeg_headers(rng)], rng)
    build(args.images, "hostile-zip-cd", "a central directory of 100,000 members at absurd "
          "offsets", [zip_directory(rng)], rng)
    build(args.images, "hostile-pdf-xref", "xref entries all at one object; a /Prev loop",
          [pdf_one_object(), pdf_prev_loop()] * 4, rng)
    build(args.images, "hostile-mp3-chain", "32 MiB of MP3 frames in one chain; an ID3 tag "
          "claiming 256 MiB", [mp3_frames(rng, 32 << 20), absurd_id3() + mp3_frames(rng, 1 << 20)],
          rng)
    variants = ["directory chain loops", "stream chain loops on itself",
                "DIFAT chain loops on itself", "absurd FAT sector count"]
    build(args.images, "hostile-cfb-loop", "compound documents whose chains loop (50 of each of "
          "4 kinds)", [cfb(v) for v in variants] * 50, rng)
    build(args.images, "hostile-zip-walk", "1,000 archives of one stored 30 KB member with a "
          "wrong CRC-32", [broken_archive(rng) for _ in range(1000)], rng)
    build(args.images, "hostile-pdf-walk", "2,000 PDFs of 200 objects, each with its end before "
          "its header", [pdf_tail_first(rng) for _ in range(2000)], rng)
    jpeg = drawn_jpeg()
    if jpeg is not None:
        build(args.images, "hostile-jpeg-walk", "400 copies of one JPEG, each with a unit "
              "overwritten", overwritten_copies(rng, jpeg), rng)
    build(args.images, "hostile-avi-index", "1,000 AVIs whose index places a chunk header that is "
          "not there", [avi_broken_index(rng) for _ in range(1000)], rng, align=4096)
    build(args.images, "hostile-mpeg-walk", "1,000 one-unit MPEG streams, each before 32 units of "
          "packs that go on with its clock", [mpeg_orphans(rng) for _ in range(1000)], rng,
          align=4096)
    mp4 = drawn_mp4()
    if mp4 is not None:
        build(args.images, "hostile-mov-walk", "400 copies of one MP4, each with a unit "
              "overwritten; 1,000 movie starts without a movie box",
              overwritten_copies(rng, mp4) + [movie_without_box(rng) for _ in range(1000)], rng,
              align=4096)
    books = [xlwt_workbook(rows) for rows in range(600, 900)]
    if books[0] is not None:
        build(args.images, "hostile-cfb-walk", "300 workbooks, each with its header after the rest "
              "and a unit overwritten", [workbook_header_last(rng, book) for book in books], rng,
              align=4096)


if __name__ == "__main__":
    main()
