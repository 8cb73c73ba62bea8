#!/usr/bin/env bash
# Runs every benchmark program of the default build, one after the other. Each compares our code with a
# real peer in the same run and prints both figures.
set -euo pipefail
cd "$(dirname "$0")/.."
found=0
for b in $(find build/default/bench -maxdepth 2 -type f -executable -name 'bench_*' | sort); do
  found=1
  echo "== $b"
  "$b" "$@"
done
[ "$found" = 1 ] || echo "no benchmark programs built yet"
