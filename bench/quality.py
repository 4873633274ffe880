#!/usr/bin/env python3
"""What each carver recovers from the benchmark images, per file type, against the originals.

    quality.py --kestrel PATH --work DIR [--tools LIST] [--json FILE] MANIFEST...

LIST defaults to kestrel,kestrel-free,photorec,photorec-free.

For every image (its manifest from make_images.py) each tool scans the whole image into
DIR/quality/IMAGE/TOOL. Every original that lies whole in the image is then
  exact      some output has its sha256 (named right or not: "misnamed" counts the wrong names),
  over-long  some output starts with the whole original and goes on,
  truncated  some output is a proper prefix of the original,
  missing    none of these.
When the manifest lists live files (the reused card), an output with a live file's sha256 is a
live copy, and one that is a prefix of a live file or holds one whole is a partial live copy:
neither counts as junk. An output that is none of those is junk (on pure random bytes, every
output is). A free-space variant runs only on images with a FAT or NTFS volume at the start.
Prints one table per image and writes a JSON summary.
"""
import argparse
import json
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tools  # noqa: E402

ALIASES = {"JPEG": "JPG", "TIFF": "TIF", "MPEG": "MPG", "AIFF": "AIF", "HTM": "HTML"}


def extension(path):
    ext = os.path.splitext(path)[1][1:].upper()
    return ALIASES.get(ext, ext)


def is_prefix(short_path, short_size, long_path):
    """True when the first SHORT_SIZE bytes of LONG_PATH are SHORT_PATH's bytes."""
    with open(short_path, "rb") as a, open(long_path, "rb") as b:
        left = short_size
        while left:
            n = min(left, 1 << 20)
            if a.read(n) != b.read(n):
                return False
            left -= n
    return True


def head(path, n=64):
    with open(path, "rb") as f:
        return f.read(n)


def related_to(path, size, out_head, other):
    """"over-long" when the output holds OTHER whole and goes on, "truncated" when it is a proper
    prefix of OTHER, None otherwise."""
    n = min(len(out_head), len(other["_head"]))
    if n == 0 or out_head[:n] != other["_head"][:n]:
        return None
    if size > other["size"] and is_prefix(other["path"], other["size"], path):
        return "over-long"
    if size < other["size"] and is_prefix(path, size, other["path"]):
        return "truncated"
    return None


def classify(originals, files, live=()):
    """Matches one tool's outputs against the originals and the live files; returns per-original
    verdicts, the misnamed ones, junk, over-long outputs, and the exact and partial live copies."""
    by_hash = {}
    for o in originals:
        by_hash.setdefault(o["sha256"], []).append(o)
        o["_head"] = head(o["path"])
    live_hashes = {f["sha256"] for f in live}
    for f in live:
        f["_head"] = head(f["path"])
    live_copies, live_partial = [], []
    verdicts = {id(o): "missing" for o in originals}
    misnamed = {}
    junk = []
    longer = []  # over-long outputs: (path, size)
    rank = {"missing": 0, "truncated": 1, "over-long": 2, "exact": 3}

    def mark(o, verdict):
        if rank[verdict] > rank[verdicts[id(o)]]:
            verdicts[id(o)] = verdict

    for path in files:
        size = os.path.getsize(path)
        digest = tools.sha256(path) if size else None
        if digest in live_hashes:
            live_copies.append((path, size, digest))
            continue
        matches = by_hash.get(digest)
        if matches:
            for o in matches:
                # Misnamed only when no exact copy carries the original's extension.
                wrong = extension(path) != o["type"]
                misnamed[id(o)] = misnamed.get(id(o), True) and wrong
                mark(o, "exact")
            continue
        out_head = head(path)
        related = False
        for o in originals:
            verdict = related_to(path, size, out_head, o)
            if verdict:
                mark(o, verdict)
                related = True
                if verdict == "over-long":
                    longer.append((path, size))
        if related:
            continue
        if any(related_to(path, size, out_head, f) for f in live):
            live_partial.append((path, size))
        else:
            junk.append((path, size))
    return verdicts, misnamed, junk, longer, live_copies, live_partial


def swallowed(image, originals, verdicts, outputs):
    """Originals not recovered whose start lies inside a junk or over-long output's span: a file
    carved past its end (or out of old data) that ran over them."""
    import mmap
    spans = []
    with open(image, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mm:
        for path, size in outputs[:200]:
            start = mm.find(head(path, 4096))
            if start >= 0:
                spans.append((start, start + size, extension(path)))
    hits = []
    for o in originals:
        if verdicts[id(o)] == "exact" or o.get("offset") is None:
            continue
        for start, end, ext in spans:
            if start < o["offset"] < end:
                hits.append({"original": o["path"], "type": o["type"], "variant": o["variant"],
                             "inside": ext, "span_start": start, "span_bytes": end - start})
                break
    return hits


def scan(tool, manifest, kestrel, work):
    name = os.path.splitext(os.path.basename(manifest["image"]))[0]
    out = os.path.join(work, "quality", name, tool)
    shutil.rmtree(out, ignore_errors=True)
    result = tools.run(tool, manifest["image"], out, kestrel, work)
    if result.returncode != 0:
        print(f"quality: {tool} on {name} exited {result.returncode}: {result.stderr[-500:]}",
              file=sys.stderr)
    return out


def report(manifest, tool_names, kestrel, work):
    originals = [o for o in manifest["originals"] if o["present"]]
    lost = len(manifest["originals"]) - len(originals)
    image = os.path.basename(manifest["image"])
    summary = {"image": image, "kind": manifest["kind"], "bytes": manifest["size"],
               "originals_written": len(manifest["originals"]), "originals_present": len(originals),
               "tools": {}}
    rows = {}
    for o in originals:
        # Real samples (many cut short) apart from the files made by the tools.
        rows.setdefault(o["type"] + ("*" if o.get("sample") else ""), []).append(o)
    details = {}
    tool_names = [t for t in tool_names if tools.applies(t, manifest["image"])]
    live = manifest.get("live", [])
    if live:
        summary["live_files"] = len(live)
    for tool in tool_names:
        out = scan(tool, manifest, kestrel, work)
        files, thumbnails = tools.outputs(tool, out)
        verdicts, misnamed, junk, longer, live_copies, live_partial = classify(
            originals, files, live)
        covered = swallowed(manifest["image"], originals, verdicts, junk + longer)
        per_type = {}
        for t, group in rows.items():
            counts = {"present": len(group), "exact": 0, "over-long": 0, "truncated": 0,
                      "missing": 0, "misnamed": 0}
            for o in group:
                counts[verdicts[id(o)]] += 1
                counts["misnamed"] += 1 if misnamed.get(id(o)) else 0
            per_type[t] = counts
        junk_types = {}
        for path, size in junk:
            entry = junk_types.setdefault(extension(path), {"files": 0, "bytes": 0})
            entry["files"] += 1
            entry["bytes"] += size
        problems = [{"original": o["path"], "type": o["type"], "variant": o["variant"],
                     "verdict": verdicts[id(o)], "misnamed": bool(misnamed.get(id(o))),
                     "sample": bool(o.get("sample"))}
                    for o in originals if verdicts[id(o)] != "exact" or misnamed.get(id(o))]
        summary["tools"][tool] = {
            "outputs": len(files), "exact": sum(c["exact"] for c in per_type.values()),
            "junk_files": len(junk), "junk_bytes": sum(s for _, s in junk),
            "junk_by_extension": junk_types, "photorec_thumbnails": len(thumbnails),
            "per_type": per_type, "not_exact": problems, "run_over": covered}
        if live:
            summary["tools"][tool].update({
                "live_copies": len(live_copies),
                "live_files_copied": len({d for _, _, d in live_copies}),
                "live_partial": len(live_partial),
                "live_bytes": sum(c[1] for c in live_copies + live_partial)})
        details[tool] = per_type
    print_table(image, manifest, summary, tool_names, sorted(rows), details, lost)
    for o in manifest["originals"] + live:
        o.pop("_head", None)
    return summary


def print_table(image, manifest, summary, tool_names, types, details, lost):
    print(f"\n== {image} ({manifest['kind']}, {manifest['size'] >> 20} MiB): "
          f"{summary['originals_present']} originals whole in the image"
          + (f" ({lost} more written but overwritten by the format)" if lost else "")
          + (f"; {summary['live_files']} live files" if "live_files" in summary else ""))
    if types:
        header = f"{'type':<6}{'orig':>5}"
        for tool in tool_names:
            header += f" | {tool[:12]:<12} {'exact':>5} {'long':>4} {'short':>5} {'miss':>4} {'name':>4}"
        print(header)
        for t in types:
            line = f"{t:<6}{details[tool_names[0]][t]['present']:>5}"
            for tool in tool_names:
                c = details[tool][t]
                line += (f" | {'':<12} {c['exact']:>5} {c['over-long']:>4} {c['truncated']:>5}"
                         f" {c['missing']:>4} {c['misnamed']:>4}")
            print(line)
    if any(t.endswith("*") for t in types):
        print("  (* = real camera/document samples, many of them cut short: ends uncertain)")
    for tool in tool_names:
        s = summary["tools"][tool]
        made = {}
        for p in s["not_exact"]:
            if not p["sample"]:
                key = f"{p['type']} {p['variant']}: {p['verdict']}" + (" misnamed" if p["misnamed"] else "")
                made[key] = made.get(key, 0) + 1
        if made:
            print(f"  {tool} on made files: " + "; ".join(f"{k} x{v}" for k, v in sorted(made.items())))
        if s["run_over"]:
            kinds = {}
            for h in s["run_over"]:
                key = f"{h['type']} inside a {h['inside']} output"
                kinds[key] = kinds.get(key, 0) + 1
            print(f"  {tool}: {len(s['run_over'])} originals not exact start inside a junk or "
                  f"over-long output: " + "; ".join(f"{k} x{v}" for k, v in sorted(kinds.items())))
    for tool in tool_names:
        s = summary["tools"][tool]
        total = summary["originals_present"]
        junk = ", ".join(f"{k or '?'} {v['files']}" for k, v in sorted(s["junk_by_extension"].items()))
        extra = f"; {s['photorec_thumbnails']} Exif thumbnails extracted" if s["photorec_thumbnails"] else ""
        live = (f", live copies {s['live_copies']} ({s['live_files_copied']} of the "
                f"{summary['live_files']} live files) + {s['live_partial']} partial, "
                f"{s['live_bytes'] / 1e6:.1f} MB" if "live_copies" in s else "")
        print(f"  {tool:<12} exact {s['exact']}/{total}, {s['outputs']} files written{live}, junk "
              f"{s['junk_files']} files {s['junk_bytes'] / 1e6:.1f} MB" + (f" ({junk})" if junk else "")
              + extra)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("manifests", nargs="+")
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--tools", default="kestrel,kestrel-free,photorec,photorec-free")
    parser.add_argument("--json", help="where the summary goes (default WORK/quality.json)")
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    tool_names = tools.available(args.tools.split(","), os.path.abspath(args.kestrel))
    print("Columns per tool: exact = byte-exact (sha256), long = output holds the whole original "
          "and more, short = output is a prefix of it, miss = none, name = exact but wrong "
          "extension.")
    for tool in tool_names:
        print(f"  {tool}: {tools.OPTIONS[tool]}")
    summaries = []
    for path in args.manifests:
        with open(path) as f:
            summaries.append(report(json.load(f), tool_names, os.path.abspath(args.kestrel), work))
    target = args.json or os.path.join(work, "quality.json")
    with open(target, "w") as f:
        json.dump({"options": {t: tools.OPTIONS[t] for t in tool_names}, "images": summaries}, f,
                  indent=1)
    print(f"\nquality: summary in {target}")


if __name__ == "__main__":
    main()
