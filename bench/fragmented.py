#!/usr/bin/env python3
"""What each carver recovers from the fragmented-file images, per image, level and scenario.

    fragmented.py --kestrel PATH --work DIR [--tools LIST] [--bf-timeout S] [--timeout S]
                  [--json FILE] MANIFEST...

LIST defaults to kestrel,photorec,photorec-bf,foremost (kestrel-partial is added when
kestrel-cli knows --keep-partial). Each tool scans each image (a manifest from make_fragmented.py
or make_hostile.py) into DIR/fragmented/IMAGE/TOOL, with the image in the page cache. Every
output is sorted by its sha256:
  exact       it equals an original of the image (counted once per original; "fragmented exact"
              counts those whose original lies in more than one fragment),
  partial     it lies below a folder named partial/ (files a tool keeps without proof), apart,
  thumbnail   PhotoRec's extracted Exif thumbnails (t*.jpg), apart,
  junk        anything else.
photorec-bf runs under `timeout --bf-timeout` (default 900 s) and is reported as "did not finish"
when it runs out; every other run gets --timeout (default 1800 s). The crafted images of
make_hostile.py are scanned by Kestrel only: time, files and bytes written.
Prints markdown tables and writes a JSON summary.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tools  # noqa: E402

DEFAULT_TOOLS = "kestrel,photorec,photorec-bf,foremost"
LEVEL_ORDER = ["whole", "in-order", "intertwined", "out-of-order", "card"]
TIMED_OUT = 124  # timeout's exit status when it stopped the command


def keeps_partial(kestrel):
    """True when this kestrel-cli has --keep-partial."""
    result = subprocess.run([kestrel, "--help"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, env=dict(os.environ, KESTREL_NO_DEVICES="1"))
    return "--keep-partial" in result.stdout


def warm(image):
    with open(image, "rb") as f:
        while f.read(8 << 20):
            pass


def below_partial(path, out):
    return "partial" in os.path.relpath(path, out).split(os.sep)[:-1]


def scan(tool, manifest, kestrel, work, limit):
    """Runs TOOL on the manifest's image; returns (seconds, exit status, output folder)."""
    name = os.path.splitext(os.path.basename(manifest["image"]))[0]
    out = os.path.join(work, "fragmented", name, tool)
    shutil.rmtree(out, ignore_errors=True)
    warm(manifest["image"])
    start = time.monotonic()
    result = tools.run(tool, manifest["image"], out, kestrel, work, ["timeout", str(limit)])
    seconds = time.monotonic() - start
    if result.returncode not in (0, TIMED_OUT):
        print(f"fragmented: {tool} on {name} exited {result.returncode}: "
              f"{result.stderr[-300:].strip()}", file=sys.stderr)
    return seconds, result.returncode, out


def judge(tool, out, originals):
    """Sorts one run's outputs against the originals."""
    files, thumbnails = tools.outputs(tool, out)
    by_hash = {}
    for index, original in enumerate(originals):
        by_hash.setdefault(original["sha256"], []).append(index)
    exact = set()
    junk, partial = [], []
    for path in files:
        if below_partial(path, out):
            partial.append(os.path.getsize(path))
            continue
        matches = by_hash.get(tools.sha256(path))
        if matches:
            exact.update(matches)
        else:
            junk.append((os.path.relpath(path, out), os.path.getsize(path)))
    return {"outputs": len(files), "exact": sorted(exact),
            "exact_count": len(exact),
            "fragmented_exact": sum(1 for i in exact if originals[i]["fragmented"]),
            "junk_files": len(junk), "junk_bytes": sum(s for _, s in junk),
            "junk_examples": [p for p, _ in junk[:20]], "partial_files": len(partial),
            "partial_bytes": sum(partial), "thumbnails": len(thumbnails)}


def written(out):
    count = size = 0
    for folder, _, names in os.walk(out):
        for name in names:
            count += 1
            size += os.path.getsize(os.path.join(folder, name))
    return count, size


def run_image(manifest, tool_names, kestrel, work, limits):
    originals = [o for o in manifest["originals"] if o["present"]]
    image = os.path.basename(manifest["image"])
    entry = {"image": image, "level": manifest.get("level"), "bytes": manifest["size"],
             "originals": originals, "tools": {}}
    for tool in tool_names:
        limit = limits.get(tool, limits["default"])
        seconds, status, out = scan(tool, manifest, kestrel, work, limit)
        result = {"seconds": round(seconds, 2), "exit": status,
                  "finished": status != TIMED_OUT, "time_limit": limit}
        result.update(judge(tool, out, originals))
        entry["tools"][tool] = result
        print(f"fragmented: {image} {tool}: {result['exact_count']}/{len(originals)} exact, "
              f"{result['fragmented_exact']} fragmented exact, junk {result['junk_files']}, "
              f"{seconds:.1f} s" + ("" if result["finished"] else " (did not finish)"),
              flush=True)
    return entry


def run_hostile(manifest, kestrel, work, limit):
    image = os.path.basename(manifest["image"])
    seconds, status, out = scan("kestrel", manifest, kestrel, work, limit)
    count, size = written(out)
    shutil.rmtree(out, ignore_errors=True)
    entry = {"image": image, "what": manifest["what"], "bytes": manifest["size"],
             "seconds": round(seconds, 2), "exit": status, "finished": status != TIMED_OUT,
             "files": count, "bytes_written": size}
    print(f"fragmented: {image} kestrel: {count} files, {size / 1e6:.1f} MB, {seconds:.1f} s, "
          f"exit {status}", flush=True)
    return entry


def cell(result, originals):
    """"exact (fragmented exact)", marked when the run did not finish."""
    fragmented = sum(1 for i in result["exact"] if originals[i]["fragmented"])
    text = f"{len(result['exact'])} ({fragmented})"
    return text if result["finished"] else text + " dnf"


def image_table(entries, tool_names):
    lines = ["| image | originals (fragmented) | tool | exact (fragmented) | junk files | "
             "junk MB | partial/ | time s |", "|---|---:|---|---:|---:|---:|---:|---:|"]
    for entry in entries:
        originals = entry["originals"]
        frag = sum(1 for o in originals if o["fragmented"])
        for tool in tool_names:
            r = entry["tools"][tool]
            time_text = f"{r['seconds']:.1f}" if r["finished"] else \
                f"did not finish in {r['time_limit']}"
            lines.append(f"| {entry['image']} | {len(originals)} ({frag}) | {tool} | "
                         f"{cell(r, originals)} | {r['junk_files']} | "
                         f"{r['junk_bytes'] / 1e6:.1f} | {r['partial_files']} | {time_text} |")
    return lines


def grouped_table(entries, tool_names, key, title):
    """One row per value of KEY (an original's level or scenario) over all images; each tool's
    cell sums its exact (fragmented exact) originals of that row."""
    rows = {}
    for entry in entries:
        for index, original in enumerate(entry["originals"]):
            rows.setdefault(key(original), []).append((entry, index))
    order = sorted(rows, key=lambda k: (LEVEL_ORDER.index(k.split(":")[0])
                                        if k.split(":")[0] in LEVEL_ORDER else 99, k))
    lines = [f"| {title} | originals | fragmented | " + " | ".join(tool_names) + " |",
             "|---|---:|---:|" + "---:|" * len(tool_names)]
    for row in order:
        members = rows[row]
        frag = sum(1 for e, i in members if e["originals"][i]["fragmented"])
        cells = []
        for tool in tool_names:
            exact = sum(1 for e, i in members if i in set(e["tools"][tool]["exact"]))
            frag_exact = sum(1 for e, i in members if i in set(e["tools"][tool]["exact"])
                             and e["originals"][i]["fragmented"])
            unfinished = any(not e["tools"][tool]["finished"] for e, _ in members)
            cells.append(f"{exact} ({frag_exact})" + (" dnf" if unfinished else ""))
        lines.append(f"| {row} | {len(members)} | {frag} | " + " | ".join(cells) + " |")
    return lines


def hostile_table(entries):
    lines = ["| crafted image | what it holds | MiB | Kestrel time s | files written | MB written "
             "| exit |", "|---|---|---:|---:|---:|---:|---:|"]
    for e in entries:
        time_text = f"{e['seconds']:.1f}" if e["finished"] else "did not finish"
        lines.append(f"| {e['image']} | {e['what']} | {e['bytes'] >> 20} | {time_text} | "
                     f"{e['files']} | {e['bytes_written'] / 1e6:.1f} | {e['exit']} |")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("manifests", nargs="+")
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--tools", default=DEFAULT_TOOLS)
    parser.add_argument("--bf-timeout", type=int, default=900)
    parser.add_argument("--timeout", type=int, default=1800)
    parser.add_argument("--json", help="where the summary goes (default WORK/fragmented.json)")
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    kestrel = os.path.abspath(args.kestrel)
    os.makedirs(work, exist_ok=True)
    names = args.tools.split(",")
    if "kestrel" in names and "kestrel-partial" not in names and keeps_partial(kestrel):
        names.insert(names.index("kestrel") + 1, "kestrel-partial")
    tool_names = tools.available(names, kestrel)
    limits = {"default": args.timeout, "photorec-bf": args.bf_timeout}
    manifests = []
    for path in args.manifests:
        with open(path) as f:
            manifests.append(json.load(f))
    print("Tools:")
    for tool in tool_names:
        print(f"  {tool}: {tools.OPTIONS[tool]}")
    entries, hostile = [], []
    for manifest in manifests:
        if manifest["kind"] == "hostile":
            hostile.append(run_hostile(manifest, kestrel, work, args.timeout))
        else:
            entries.append(run_image(manifest, tool_names, kestrel, work, limits))
    tables = []
    if entries:
        tables += ["", "Cells: exact originals (of them fragmented); dnf = the tool ran out of "
                   "its time limit (its files so far are counted).", ""]
        tables += image_table(entries, tool_names) + [""]
        tables += grouped_table(entries, tool_names, lambda o: o["level"], "level") + [""]
        tables += grouped_table(entries, tool_names,
                                lambda o: f"{o['level']}: {o['scenario']}", "scenario") + [""]
        tables += grouped_table(entries, tool_names,
                                lambda o: ("fragmented " if o["fragmented"] else "whole ")
                                + o["type"], "type")
    if hostile:
        tables += ["", "Crafted images (Kestrel only):", ""] + hostile_table(hostile)
    print("\n".join(tables))
    target = args.json or os.path.join(work, "fragmented.json")
    with open(target, "w") as f:
        json.dump({"options": {t: tools.OPTIONS[t] for t in tool_names}, "images": entries,
                   "hostile": hostile}, f, indent=1)
    print(f"\nfragmented: summary in {target}")


if __name__ == "__main__":
    main()
