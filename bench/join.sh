#!/usr/bin/env bash
# Times equality joins at three sizes, 10 and 100 times apart:
#   Big (10,000 / 100,000 / 1,000,000 rows) joined with Small (1,000 / 10,000 / 100,000 rows).
# A join computed through a hash table grows with the rows (about 10x per
# step); a cross product would grow with their product (100x per step).
#
#   bench/join.sh [OUTDIR]      (default: /tmp/msitable-join)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=${1:-/tmp/msitable-join}
command -v hyperfine >/dev/null 2>&1 || { apt-get update && apt-get install -y --no-install-recommends hyperfine; }
command -v jq >/dev/null 2>&1 || { apt-get update && apt-get install -y --no-install-recommends jq; }
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMSITABLE_BENCH=ON -DMSITABLE_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
MSITABLE=$ROOT/build-bench/msitable
mkdir -p "$OUT"
[ -f "$OUT/join-100x.msi" ] || "$ROOT/build-bench/bench/make_join_databases" "$OUT"

for query in "Big, Small WHERE Big.Ref = Small.Name" "Big, Small WHERE Big.Group = Small.Id"; do
  echo "query: $query"
  for size in 1x 10x 100x; do
    rows=$("$MSITABLE" "$OUT/join-$size.msi" "$query" | tail -n +4 | wc -l)
    hyperfine --warmup 1 --runs 5 --export-json "$OUT/join-$size.json" \
      "$MSITABLE $OUT/join-$size.msi '$query' >/dev/null" >/dev/null
    median=$(jq '.results[0].median' "$OUT/join-$size.json")
    printf '  %-5s %8d result rows  median %.3f s\n' "$size" "$rows" "$median"
  done
done
