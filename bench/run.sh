#!/usr/bin/env bash
# Benchmarks msitable for speed and memory on large databases.
#
#   bench/run.sh [OUTDIR]      (default: /tmp/msitable-bench)
#
# Builds a Release binary in build-bench/, writes the benchmark databases
# into OUTDIR (kept between runs; delete the folder to make them anew) and
# measures:
#   1. size independence: a 10-row table from a 2 GiB database vs a 100 KiB one
#   2. throughput: 1,000,000 rows vs a C program writing the same lines
#   3. memory: peak resident set of 2 and of 1
#   4. open: _Tables from the 2 GiB database vs the 100 KiB one
# Each time target is a ratio of two hyperfine medians taken in one
# hyperfine run. Such runs are repeated in short rounds (so that a burst of
# load elsewhere on the machine hits both sides alike) and the median of the
# rounds' ratios is judged. The machine may be shared: run it when it is
# quiet. ROUNDS scales the number of rounds (default 1 = 15 rounds for the
# millisecond runs, 5 for the 1,000,000-row run).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=${1:-/tmp/msitable-bench}
ROUNDS=${ROUNDS:-1}

# --- tools ---------------------------------------------------------------
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v gcc >/dev/null 2>&1 || missing+=(gcc)
command -v hyperfine >/dev/null 2>&1 || missing+=(hyperfine)
command -v strace >/dev/null 2>&1 || missing+=(strace)
command -v jq >/dev/null 2>&1 || missing+=(jq)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# --- build -----------------------------------------------------------------
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMSITABLE_BENCH=ON -DMSITABLE_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
MSITABLE=$ROOT/build-bench/msitable
WRITE_LINES=$ROOT/build-bench/bench/write_lines

# --- databases -------------------------------------------------------------
mkdir -p "$OUT"
if [ ! -f "$OUT/rows.sizes" ] || [ "$ROOT/build-bench/bench/make_bench_databases" -nt "$OUT/rows.sizes" ]; then
  echo "writing the databases into $OUT (about 2.2 GB)..."
  "$ROOT/build-bench/bench/make_bench_databases" "$OUT"
fi
SMALL=$OUT/small.msi
LARGE=$OUT/large.msi
ROWS=$OUT/rows.msi

# The lines msitable prints for the 1,000,000-row table, for the C floor;
# the floor must print exactly the same bytes.
"$MSITABLE" "$ROWS" Entry >"$OUT/rows.txt"
"$WRITE_LINES" "$OUT/rows.txt" | cmp -s - "$OUT/rows.txt" || { echo "write_lines output differs" >&2; exit 1; }
[ "$(wc -l <"$OUT/rows.txt")" -eq 1000003 ] || { echo "unexpected line count in rows.txt" >&2; exit 1; }
# small and large must print the same table.
cmp -s <("$MSITABLE" "$SMALL" Feature) <("$MSITABLE" "$LARGE" Feature) || { echo "Feature differs" >&2; exit 1; }

# Make sure the files are in the page cache: these are warm-cache figures.
cat "$SMALL" "$ROWS" "$OUT/rows.txt" >/dev/null

# --- helpers ---------------------------------------------------------------
verdict() {  # verdict VALUE LIMIT -> PASS when VALUE <= LIMIT
  awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "PASS" : "MISS" }'
}
median() {  # median of the numbers on standard input
  sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# ratio_rounds NAME ROUNDS WARMUP RUNS BASELINE_CMD MEASURED_CMD
# Runs hyperfine ROUNDS times on the pair; prints each round's medians and
# sets RATIO (median of the rounds' measured/baseline ratios), BASE_S and
# MEASURED_S (medians of the rounds' medians, in seconds) and CPU_RATIO
# (the same for user+system time, less sensitive to other load).
ratio_rounds() {
  local name=$1 rounds=$(($2 * ROUNDS)) warmup=$3 runs=$4 base=$5 measured=$6 r json
  local ratios=() cpu_ratios=() bases=() measureds=()
  rm -f "$OUT/$name".*.json
  for ((r = 1; r <= rounds; ++r)); do
    json=$OUT/$name.$r.json
    # Every other round runs the measured command first.
    local bi=$(((r + 1) % 2)) mi=$((r % 2)) b m
    if ((bi == 0)); then
      hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-json "$json" \
        "$base" "$measured" >/dev/null 2>&1
    else
      hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-json "$json" \
        "$measured" "$base" >/dev/null 2>&1
    fi
    b=$(jq ".results[$bi].median" "$json")
    m=$(jq ".results[$mi].median" "$json")
    bases+=("$b")
    measureds+=("$m")
    ratios+=("$(awk -v b="$b" -v m="$m" 'BEGIN { printf "%.3f", m / b }')")
    cpu_ratios+=("$(jq "(.results[$mi].user + .results[$mi].system) / (.results[$bi].user + .results[$bi].system)" "$json")")
    printf '    round %2d: %.6f s vs %.6f s, ratio %s\n' "$r" "$b" "$m" "${ratios[-1]}"
  done
  RATIO=$(printf '%s\n' "${ratios[@]}" | median)
  CPU_RATIO=$(printf '%s\n' "${cpu_ratios[@]}" | median | awk '{ printf "%.3f", $1 }')
  BASE_S=$(printf '%s\n' "${bases[@]}" | median)
  MEASURED_S=$(printf '%s\n' "${measureds[@]}" | median)
}

# Bytes and calls of pread64 on one file during one run.
preads() {  # preads FILE TABLE -> "BYTES CALLS"
  local log=$OUT/strace.log
  strace -o "$log" -P "$1" -e trace=pread64 "$MSITABLE" "$1" "$2" >/dev/null
  awk -F'= ' '/^pread64/ { n++; s += $NF } END { print s + 0, n + 0 }' "$log"
}

max_rss_kib() {  # max_rss_kib ARGS... -> peak resident set in KiB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}

echo
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/^Mem:/ { print $2 }') GiB"
echo "databases: small $(stat -c %s "$SMALL") bytes, large $(stat -c %s "$LARGE") bytes, rows $(stat -c %s "$ROWS") bytes"
status=0
note() { [ "$1" = PASS ] || status=1; }

# Times TABLE from small.msi against large.msi (limit 1.5) and counts the
# bytes each run reads, leaving them in small_bytes/small_calls and
# large_bytes/large_calls.
small_vs_large() {
  local name=$1 table=$2 v
  ratio_rounds "$name" 15 5 40 "$MSITABLE $SMALL $table" "$MSITABLE $LARGE $table"
  v=$(verdict "$RATIO" 1.5); note "$v"
  printf '   small %.3f ms, large %.3f ms, ratio %s (limit 1.5): %s; CPU time ratio %s\n' \
    "$(awk -v s="$BASE_S" 'BEGIN { print s * 1000 }')" "$(awk -v s="$MEASURED_S" 'BEGIN { print s * 1000 }')" "$RATIO" "$v" "$CPU_RATIO"
  read -r small_bytes small_calls < <(preads "$SMALL" "$table")
  read -r large_bytes large_calls < <(preads "$LARGE" "$table")
}

# --- 1. size independence ----------------------------------------------------
echo
echo "1. 10-row table (Feature): large.msi vs small.msi"
small_vs_large feature Feature
# Beyond what the small file needs, the large one may read its DIFAT
# sectors and one more FAT sector: allow 8 sectors.
v=$(verdict "$large_bytes" $((small_bytes + 8 * 512))); note "$v"
echo "   bytes read: small $small_bytes in $small_calls preads, large $large_bytes in $large_calls preads: $v"

# --- 2. throughput -------------------------------------------------------------
echo
echo "2. 1,000,000-row table (Entry) to /dev/null vs write_lines (same bytes, one write per line)"
ratio_rounds rows 5 1 3 "$WRITE_LINES $OUT/rows.txt" "$MSITABLE $ROWS Entry"
v=$(verdict "$RATIO" 1.3); note "$v"
printf '   write_lines %.3f s, msitable %.3f s (%s rows/s), ratio %s (limit 1.3): %s; CPU time ratio %s\n' \
  "$BASE_S" "$MEASURED_S" "$(awk -v s="$MEASURED_S" 'BEGIN { printf "%.0f", 1000000 / s }')" "$RATIO" "$v" "$CPU_RATIO"

# --- 3. memory -------------------------------------------------------------
echo
echo "3. peak resident memory"
budget_kib=$(awk '{ s += $2 } END { printf "%d", s / 1024 + 16384 }' "$OUT/rows.sizes")
rows_rss=$(max_rss_kib "$MSITABLE" "$ROWS" Entry)
v=$(verdict "$rows_rss" "$budget_kib"); note "$v"
echo "   Entry from rows.msi: $rows_rss KiB (limit $budget_kib KiB = pool, string data and table streams + 16 MiB): $v"
large_rss=$(max_rss_kib "$MSITABLE" "$LARGE" Feature)
v=$(verdict "$large_rss" 16384); note "$v"
echo "   Feature from large.msi: $large_rss KiB (limit 16384 KiB): $v"

# --- 4. open -------------------------------------------------------------------
echo
echo "4. open and print _Tables: large.msi vs small.msi"
small_vs_large tables _Tables
echo "   bytes read: small $small_bytes in $small_calls preads, large $large_bytes in $large_calls preads"

echo
[ $status -eq 0 ] && echo "all targets met" || echo "some targets missed"
exit $status
