#!/usr/bin/env bash
# Builds Veltrano and runs every test. With --sanitize the build uses
# AddressSanitizer and UndefinedBehaviorSanitizer (in build-asan/). The last
# line is a summary of its own: how many tests ran, passed, were skipped and
# failed, and how long the build and the tests took.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
tools/install-deps.sh

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DVELTRANO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$dir" -DBUILD_TESTING=ON "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
results=$PWD/$dir/Testing/results.xml
rm -f "$results"
rc=0
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --output-junit "$results" || rc=$?

# The counts are attributes of the report's <testsuite>, one per line.
count() { { sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$results" 2>/dev/null || true; } | head -n 1; }
took=$((SECONDS - started))
run=$(count tests) failed=$(count failures) skipped=$(count skipped) disabled=$(count disabled)
if [ -n "$run" ]; then
  echo "tools/test.sh: $run tests, $((run - failed - skipped - disabled)) passed," \
    "$((skipped + disabled)) skipped, $failed failed ($dir/, $((took / 60)) min $((took % 60)) s)"
else
  echo "tools/test.sh: the tests did not run ($dir/, $((took / 60)) min $((took % 60)) s)"
fi
exit "$rc"
