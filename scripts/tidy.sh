#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) over the C++ sources of src/ and app/; fails
# on any finding. Tests, fuzz and bench are left out: the gtest and libFuzzer
# macros trip the bugprone checks. Generated moc/autogen files are left out too.
# Usage: scripts/tidy.sh [build-dir]   (default build-tidy). The build dir is only
# configured, never built: no source includes a generated moc or ui header.
# TIDY_JOBS sets the parallel runs (default nproc). A file whose preprocessed input is
# the same as when it last passed is not checked again (scripts/tidy-files.py).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build-tidy}
jobs=${TIDY_JOBS:-$(nproc)}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "clang-tidy not found: run scripts/setup.sh" >&2
  exit 1
fi
# Configured again each time so the compile database lists today's sources; an
# existing build dir keeps its own options.
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
else
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_BENCH=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
# Paths in the compile database are absolute; only this tree's src/ and app/.
files_re="^$(printf '%s' "$root" | sed 's/[].[^$*+?(){}|\\]/\\&/g')/(src|app)/.*\.cpp$"
exec python3 scripts/tidy-files.py "$tidy" "$build" "$root" "$files_re" "$jobs"
