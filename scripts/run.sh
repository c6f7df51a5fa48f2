#!/usr/bin/env bash
# Sets up the machine, builds varnel and runs the main job: the plug-in in the
# embedded host against the controller simulator. Extra arguments go to `varnel run`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target varnel
exec ./build/app/varnel run --simulate "$@"
