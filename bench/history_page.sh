#!/usr/bin/env bash
# The History tab drawing four 30-day series (from a filled database) in Debian's chromium
# over `varnel run --simulate --http` on loopback: the time from the click on "30 days" to
# the chart holding all four (median and largest of 10).
#   bench/history_page.sh [VARNEL]     (default: build/app/varnel)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export VARNEL="$(realpath "${1:-$root/build/app/varnel}")"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
# varnel makes the database (its schema), the script fills 30 days into it.
"$VARNEL" run --simulate --no-demo --for 1 --host-dir "$dir" >/dev/null 2>&1 </dev/null
python3 "$root/bench/history_fill.py" "$dir"
(cd "$root/tests/browser" && npm ci --prefer-offline --no-audit --no-fund --loglevel=error)
node "$root/bench/history_page.js" "$dir"
