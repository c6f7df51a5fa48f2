#!/usr/bin/env bash
# PNGs of the web page at 1280 and 390 px width, in Debian's chromium, over
# `varnel run --simulate --http` with the demo's activity.
#   scripts/web-screenshots.sh [VARNEL] [OUTDIR]     (defaults: build/app/varnel, docs/web)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
varnel="$(realpath "${1:-$root/build/app/varnel}")"
out="$(realpath -m "${2:-$root/docs/web}")"
cd "$root/tests/browser"
npm ci --prefer-offline --no-audit --no-fund --loglevel=error
VARNEL="$varnel" node "$root/scripts/web-screenshots.js" "$out"
