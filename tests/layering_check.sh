#!/usr/bin/env bash
# Fails when a core layer includes a header of a layer above it. The layers, lowest first:
# platform, run, output, sources, carve, fs, recover (each may include itself and those below).
set -euo pipefail
src=$1/src
layers=(platform run output sources carve fs recover)
status=0
for i in "${!layers[@]}"; do
  above=("${layers[@]:i+1}")
  [ ${#above[@]} -eq 0 ] && continue
  pattern="#include \"($(IFS='|'; echo "${above[*]}"))/"
  if grep -rEn "$pattern" "$src/${layers[i]}"; then
    echo "${layers[i]} includes a layer above it" >&2
    status=1
  fi
done
exit $status
