#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: unit, engine and
# integration tests, then the fuzz targets briefly (clang/libFuzzer).
# VARNEL_WERROR=ON (as CI sets it) turns compiler warnings into errors; it stays
# off by default so a newer compiler's new warnings do not stop a user's build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
werror=${VARNEL_WERROR:-OFF}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_WERROR="$werror" >/dev/null
cmake --build build -j "$jobs"
# The real-time tests spend their time waiting out the controller's and the protocols'
# pauses, not on the processor: three at a time per core.
ctest --test-dir build --output-on-failure -j "$((jobs * 3))"
if [ -f fuzz/CMakeLists.txt ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVARNEL_FUZZ=ON -DVARNEL_BENCH=OFF \
    -DVARNEL_WERROR="$werror" >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_all
  ctest --test-dir build-fuzz --output-on-failure -L fuzz
fi
