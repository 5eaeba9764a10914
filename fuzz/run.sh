#!/usr/bin/env bash
# Builds the database fuzzer in build-fuzz/, writes the seed corpus and
# fuzzes for SECONDS seconds (default 60) in this one process.
#
# New inputs go to fuzz/corpus-work/ (not tracked); crashes, leaks, timeouts
# and out-of-memory inputs to fuzz/corpus-work/findings/. Once fixed, copy a
# finding into tests/fuzz-regressions/ so every build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
cxx=${CXX:-$(command -v clang++-14 || command -v clang++)}

cmake -S . -B build-fuzz -DMSITABLE_FUZZ=ON -DMSITABLE_TESTS=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build-fuzz -j2 --target database_fuzzer make_seeds

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

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16}

# Every regression and seed once, on its own: any failure stops here.
replay=(tests/fuzz-regressions/* "$seeds"/*)
build-fuzz/fuzz/database_fuzzer "${replay[@]}" >"$work/replay.log" 2>&1 ||
  { cat "$work/replay.log"; exit 1; }
echo "replayed ${#replay[@]} regression and seed files"

# New inputs land in the first directory only. The memory limits are what
# find allocations sized by counts in the file rather than by its size; a
# small quarantine (above) keeps freed memory from counting against them.
build-fuzz/fuzz/database_fuzzer "${corpus_dirs[@]}" \
  -max_len=65536 -rss_limit_mb=256 -malloc_limit_mb=64 -timeout=10 \
  -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$work/findings/"
