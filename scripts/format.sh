#!/usr/bin/env bash
# clang-format over every tracked C++ file: `scripts/format.sh` rewrites them,
# `scripts/format.sh --check` only reports differences and fails on any.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
  echo "clang-format not found: run scripts/setup.sh" >&2
  exit 1
fi
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  "$formatter" --dry-run -Werror "${files[@]}"
else
  "$formatter" -i "${files[@]}"
fi
