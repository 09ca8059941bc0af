#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang++, ASan and UBSan in
# build-fuzz/, then runs each for a bounded time.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 20); without TARGET names every target runs.
# New inputs that reach new code collect in build-fuzz/corpus/<target>/ and
# are reused by the next run; fuzz/seeds/<target>/ gives each a start. A
# crash, a sanitizer report or an input that runs longer than 10 s stops the
# script with a non-zero status and leaves the input in build-fuzz/artifacts/;
# replay it with build-fuzz/fuzz/<target> FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
compiler=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$compiler" ]; then
  echo "fuzz.sh: clang++ not found (tools/install-deps.sh installs it)" >&2
  exit 1
fi

cmake -S . -B build-fuzz -DVELTRANO_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build build-fuzz --target fuzzers -j"$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

mkdir -p build-fuzz/artifacts
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$t" ] && seeds=("fuzz/seeds/$t")
  echo "== $t: ${seconds}s" >&2
  UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" \
    "$corpus" "${seeds[@]}" 2>"build-fuzz/$t.log" || {
    tail -n 60 "build-fuzz/$t.log" >&2
    echo "fuzz.sh: $t failed; see build-fuzz/$t.log and build-fuzz/artifacts/" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units' "build-fuzz/$t.log" >&2 || true
done
