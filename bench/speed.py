#!/usr/bin/env python3
"""Wall time, throughput and peak memory of each carver on the same images in the same run.

    speed.py --kestrel PATH --work DIR [--runs N] [--tools LIST] [--json FILE] IMAGE...

LIST defaults to kestrel,kestrel-free,photorec,photorec-free,foremost.

Each image is read once first so that every tool scans it from the page cache. Every tool then
scans it N times (default 3) into a fresh folder under DIR/speed; the folder is removed after the
timing, never during it. Reports the median wall time, MB/s (10^6 bytes per second), the largest
resident set (from /usr/bin/time -v when installed) and each peer's time divided by Kestrel's.
A free-space variant (kestrel-free, photorec-free) runs only on images with a FAT or NTFS volume
at the start; on those the tool's whole-scan time over its free-space time is printed below the
image's rows.
"""
import argparse
import json
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tools  # noqa: E402

TIME = "/usr/bin/time"


def warm(image):
    with open(image, "rb") as f:
        while f.read(8 << 20):
            pass


def max_rss_kib(stderr):
    for line in stderr.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    return None


def measure(tool, image, runs, kestrel, work):
    out = os.path.join(work, "speed", tool)
    timer = [TIME, "-v"] if os.access(TIME, os.X_OK) else None
    walls, rss, files = [], [], 0
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        start = time.monotonic()
        result = tools.run(tool, image, out, kestrel, work, timer)
        walls.append(time.monotonic() - start)
        if result.returncode != 0:
            print(f"speed: {tool} exited {result.returncode} on {image}", file=sys.stderr)
        value = max_rss_kib(result.stderr) if timer else None
        if value:
            rss.append(value)
        files = len(tools.outputs(tool, out)[0])
    shutil.rmtree(out, ignore_errors=True)
    return {"runs": [round(w, 3) for w in walls], "median_s": statistics.median(walls),
            "max_rss_mib": round(max(rss) / 1024, 1) if rss else None, "files": files}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("images", nargs="+")
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tools", default="kestrel,kestrel-free,photorec,photorec-free,foremost")
    parser.add_argument("--json", help="where the summary goes (default WORK/speed.json)")
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    kestrel = os.path.abspath(args.kestrel)
    tool_names = tools.available(args.tools.split(","), kestrel)
    if not os.access(TIME, os.X_OK):
        print(f"speed: {TIME} not found (apt-get install time): no memory figures", file=sys.stderr)
    print(f"Median of {args.runs} runs each, image in the page cache, {os.cpu_count()} cores.")
    for tool in tool_names:
        print(f"  {tool}: {tools.OPTIONS[tool]}")
    print(f"\n{'image':<14}{'MiB':>6} {'tool':<13}{'median s':>9}{'MB/s':>9}{'max RSS MiB':>12}"
          f"{'files':>7}{'x Kestrel':>10}")
    results = []
    for image in args.images:
        size = os.path.getsize(image)
        warm(image)
        row = {"image": os.path.basename(image), "bytes": size, "tools": {}}
        for tool in tool_names:
            if tools.applies(tool, image):
                row["tools"][tool] = measure(tool, image, args.runs, kestrel, work)
        base = row["tools"].get("kestrel", {}).get("median_s")
        for tool, r in row["tools"].items():
            r["mb_per_s"] = round(size / 1e6 / r["median_s"], 1) if r["median_s"] > 0 else None
            r["time_vs_kestrel"] = round(r["median_s"] / base, 2) if base else None
            rss = f"{r['max_rss_mib']:.1f}" if r["max_rss_mib"] is not None else "-"
            print(f"{row['image']:<14}{size >> 20:>6} {tool:<13}{r['median_s']:>9.3f}"
                  f"{r['mb_per_s'] or 0:>9.1f}{rss:>12}{r['files']:>7}"
                  f"{r['time_vs_kestrel'] or 0:>10.2f}")
        for tool, r in row["tools"].items():
            whole = row["tools"].get(tools.program(tool), {}).get("median_s")
            if tool != tools.program(tool) and whole and r["median_s"] > 0:
                r["whole_over_free"] = round(whole / r["median_s"], 2)
                print(f"{'':<20} {tools.program(tool)} whole scan / free-space scan: "
                      f"{r['whole_over_free']:.2f}x")
        results.append(row)
    target = args.json or os.path.join(work, "speed.json")
    with open(target, "w") as f:
        json.dump({"runs": args.runs, "cores": os.cpu_count(),
                   "options": {t: tools.OPTIONS[t] for t in tool_names}, "images": results}, f,
                  indent=1)
    print(f"\nspeed: summary in {target}")


if __name__ == "__main__":
    main()
