#!/usr/bin/env bash
# Fails when a layer includes a header of a layer above it. The core's layers, lowest first:
# platform, run, report, output, sources, carve, fs, recover (each may include itself and those below).
# Above them the front ends cli and app (and app's imaging), which include the core but never
# each other.
set -euo pipefail
src=$1/src
layers=(platform run report output sources carve fs recover)
fronts=(cli app imaging)
status=0
check() {  # folder, the folders it must not include
  local folder=$1; shift
  local pattern="#include \"($(IFS='|'; echo "$*"))/"
  if grep -rEn "$pattern" "$src/$folder"; then
    echo "$folder includes a layer above it or beside it" >&2
    status=1
  fi
}
for i in "${!layers[@]}"; do
  check "${layers[i]}" "${layers[@]:i+1}" "${fronts[@]}"
done
check cli app imaging
check app cli
check imaging cli app
exit $status
