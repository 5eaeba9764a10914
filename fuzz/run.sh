#!/usr/bin/env bash
# Builds the fuzzers in build-fuzz/, replays their regressions and seeds,
# then fuzzes for SECONDS seconds in all (default 60), one process at a
# time: half on damaged database files, half on queries.
#
#   fuzz/run.sh [SECONDS]
#
# New inputs go to fuzz/corpus-work/ (not tracked); crashes, leaks, timeouts
# and out-of-memory inputs to fuzz/corpus-work/findings/ (database files) and
# fuzz/corpus-work/queries/findings/ (queries). Once fixed, copy a finding
# into tests/fuzz-regressions/ or tests/fuzz-regressions/queries/ so every
# build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
database_seconds=$(( (seconds + 1) / 2 ))
query_seconds=$(( seconds - database_seconds ))
cxx=${CXX:-$(command -v clang++-14 || command -v clang++)}

cmake -S . -B build-fuzz -DMSITABLE_FUZZ=ON -DMSITABLE_TESTS=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build-fuzz -j2 --target database_fuzzer query_fuzzer make_seeds

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16}

# --- Damaged database files.
work=fuzz/corpus-work
seeds=$work/seeds
mkdir -p "$work/corpus" "$work/findings" "$seeds"
build-fuzz/fuzz/make_seeds "$seeds"
corpus_dirs=("$work/corpus" "$seeds" tests/fuzz-regressions)
if [ -d ../shared/corpus ]; then
  mkdir -p "$work/real"
  cp -f ../shared/corpus/*.ms[im] "$work/real/" 2>/dev/null || true
  corpus_dirs+=("$work/real")
fi

# Every regression and seed once, on its own: any failure stops here.
mapfile -t replay < <(find tests/fuzz-regressions -maxdepth 1 -type f | sort)
replay+=("$seeds"/*)
build-fuzz/fuzz/database_fuzzer "${replay[@]}" >"$work/replay.log" 2>&1 ||
  { cat "$work/replay.log"; exit 1; }
echo "replayed ${#replay[@]} regression and seed files"

# New inputs land in the first directory only. The memory limits are what
# find allocations sized by counts in the file rather than by its size; a
# small quarantine (above) keeps freed memory from counting against them.
build-fuzz/fuzz/database_fuzzer "${corpus_dirs[@]}" \
  -max_len=65536 -rss_limit_mb=256 -malloc_limit_mb=64 -timeout=10 \
  -max_total_time="$database_seconds" -print_final_stats=1 \
  -artifact_prefix="$work/findings/"

# --- Queries, against the fuzzer's own database.
qwork=$work/queries
mkdir -p "$qwork/corpus" "$qwork/findings"
mapfile -t qreplay < <(find tests/fuzz-regressions/queries fuzz/query-seeds -type f | sort)
build-fuzz/fuzz/query_fuzzer "${qreplay[@]}" >"$qwork/replay.log" 2>&1 ||
  { cat "$qwork/replay.log"; exit 1; }
echo "replayed ${#qreplay[@]} regression and seed queries"

# A query can make the engine hold up to 128 MiB of row combinations (the
# limit on tables combined without a join), hence the higher memory limit.
build-fuzz/fuzz/query_fuzzer "$qwork/corpus" fuzz/query-seeds tests/fuzz-regressions/queries \
  -dict=fuzz/query.dict -max_len=1024 -rss_limit_mb=2048 -timeout=10 \
  -max_total_time="$query_seconds" -print_final_stats=1 \
  -artifact_prefix="$qwork/findings/"
