#!/usr/bin/env bash
# Controller report to the browser's DOM (median and 90th percentile), in Debian's
# chromium over `varnel run --simulate --http` on loopback; about a minute.
#   bench/web_report_latency.sh [VARNEL] [REPORTS]     (defaults: build/app/varnel, 120)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export VARNEL="$(realpath "${1:-$root/build/app/varnel}")"
(cd "$root/tests/browser" && npm ci --prefer-offline --no-audit --no-fund --loglevel=error)
exec node "$root/bench/web_report_latency.js" "${2:-120}"
