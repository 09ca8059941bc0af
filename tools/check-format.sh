#!/usr/bin/env bash
# Fails when a C++ file under src/, tests/, bench/ or fuzz/ differs from what
# clang-format makes of it (.clang-format). Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'bench/*.cpp' 'fuzz/*.cpp' 'fuzz/*.hpp' |
  xargs clang-format --dry-run --Werror
