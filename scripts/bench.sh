#!/usr/bin/env bash
# Carving benchmarks: Kestrel's raw scan against PhotoRec and foremost on the same images.
#   bash scripts/bench.sh [--quick | --full | --size-mb N] [--runs N] [--work DIR]
#                         [--only quality|speed|deleted|fragmented] [--tools LIST]
#                         [--rebuild-images] [--bf-timeout SECONDS]
# --quick: 128 MiB images (the default); --full: 1 GiB. Builds kestrel-cli (Release) in
# build-bench, makes real files with real tools, builds the images (a reformatted FAT32 camera
# card, a card reformatted and then shot on again, a reformatted NTFS office partition, files
# planted among random bytes, random bytes, zeros, dense samples), then prints the quality tables
# and the speed table; JSON summaries go to WORK/quality.json and WORK/speed.json. --tools: default
# kestrel,kestrel-free,photorec,photorec-free,foremost (-free: the FAT/NTFS volume's free space
# only, on the card, reused and office images). --only deleted measures "Recover deleted files"
# against tsk_recover instead (FAT32, FAT16, fragmented FAT32, NTFS volumes made by the real
# tools). --only fragmented measures what the carvers make of fragmented files (DFRWS-style
# images per level, a reused FAT32 camera card, crafted images; tools default
# kestrel,photorec,photorec-bf,foremost, PhotoRec's JPEG brute force stopped after --bf-timeout,
# default 900 s). Peers that are not installed are left out.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=128
runs=3
work=${KESTREL_BENCH_DIR:-/tmp/kestrel-bench}
only=""
peers="kestrel,kestrel-free,photorec,photorec-free,foremost"
frag_tools="kestrel,photorec,photorec-bf,foremost"
bf_timeout=900
rebuild=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) size_mb=128 ;;
    --full) size_mb=1024 ;;
    --size-mb) size_mb=$2; shift ;;
    --runs) runs=$2; shift ;;
    --work) work=$2; shift ;;
    --only) only=$2; shift ;;
    --tools) peers=$2; frag_tools=$2; shift ;;
    --bf-timeout) bf_timeout=$2; shift ;;
    --rebuild-images) rebuild=1 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "bench: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
case "$size_mb" in ''|*[!0-9]*) echo "bench: --size-mb needs a number" >&2; exit 2 ;; esac
[ "$size_mb" -ge 64 ] || { echo "bench: --size-mb must be at least 64 (FAT32 needs room)" >&2; exit 2; }

# The generators need python3-docx and python3-openpyxl, which Debian installs for its own python.
python=${PYTHON:-python3}
[ -x /usr/bin/python3 ] && [ -z "${PYTHON:-}" ] && python=/usr/bin/python3
for tool in "$python" cmake ninja; do
  command -v "$tool" > /dev/null || { echo "bench: $tool not found (bash scripts/setup.sh)" >&2; exit 1; }
done

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_TESTS=OFF \
  -DKESTREL_BUILD_GUI=OFF "${launcher[@]}" > /dev/null
lock=()
command -v flock > /dev/null && lock=(flock /tmp/kestrel-build.lock)
"${lock[@]}" ninja -C build-bench -j2 kestrel-cli kestrel_scan_bench > /dev/null
kestrel=$PWD/build-bench/kestrel-cli

mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ "$only" = deleted ]; then
  echo "== deleted files: Kestrel and tsk_recover on the same volumes"
  exec "$python" bench/deleted.py --kestrel "$kestrel" --work "$work/deleted" --runs "$runs"
fi
if [ "$only" = fragmented ]; then
  frag=$work/fragmented
  if [ "$rebuild" -eq 1 ] || [ ! -s "$frag/images/hostile-cfb-loop.json" ]; then
    echo "== building the fragmented-file images into $frag/images"
    rm -rf "$frag/images"
    "$python" bench/make_fragmented.py "$frag/files" "$frag/images"
    "$python" bench/make_hostile.py "$frag/images"
  fi
  echo "== fragmented files: what each carver recovers, per level"
  exec "$python" bench/fragmented.py --kestrel "$kestrel" --work "$work/run" \
    --tools "$frag_tools" --bf-timeout "$bf_timeout" --json "$work/fragmented.json" \
    "$frag"/images/*.json
fi
files=$work/files-$size_mb
images=$work/images-$size_mb
if [ ! -s "$files/files.json" ]; then
  echo "== making files with real tools into $files"
  rm -rf "$files"
  "$python" bench/make_files.py "$files" --camera-mb $((size_mb * 3 / 2)) \
    --office-mb $((size_mb * 35 / 100))
fi
if [ "$rebuild" -eq 1 ] || [ ! -s "$images/dense.json" ]; then
  echo "== building $size_mb MiB images into $images"
  rm -rf "$images"
  "$python" bench/make_images.py "$files" "$images" --size-mb "$size_mb"
elif [ -s "$images/card.json" ] && [ ! -s "$images/reused.json" ]; then
  echo "== adding the reused card to $images"
  "$python" bench/make_images.py "$files" "$images" --size-mb "$size_mb" --kinds reused
fi

manifests=()
for kind in card reused office planted random; do
  [ -s "$images/$kind.json" ] && manifests+=("$images/$kind.json")
done
if [ -z "$only" ] || [ "$only" = quality ]; then
  echo "== quality: what each tool recovers, per type"
  quality_tools=${peers/,foremost/}
  "$python" bench/quality.py --kestrel "$kestrel" --work "$work/run" --tools "$quality_tools" \
    --json "$work/quality.json" "${manifests[@]}"
fi
if [ -z "$only" ] || [ "$only" = speed ]; then
  echo "== speed"
  speed_images=()
  for kind in card reused random zeros; do
    [ -s "$images/$kind.img" ] && speed_images+=("$images/$kind.img")
  done
  "$python" bench/speed.py --kestrel "$kestrel" --work "$work/run" --runs "$runs" \
    --tools "$peers" --json "$work/speed.json" "${speed_images[@]}"
  # foremost carves the dense samples into tens of gigabytes (each header runs to its type's
  # largest size), so the dense image is timed without it.
  if [ -s "$images/dense.img" ]; then
    "$python" bench/speed.py --kestrel "$kestrel" --work "$work/run" --runs "$runs" \
      --tools "${peers/,foremost/}" --json "$work/speed-dense.json" "$images/dense.img"
  fi
  echo "== Kestrel's raw scan in process (no process start, no terminal)"
  build-bench/bench/kestrel_scan_bench "$work/run/inprocess" "${speed_images[@]}"
  rm -rf "$work/run/inprocess"
fi
