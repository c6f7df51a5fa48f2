#!/usr/bin/env bash
# Runs the web page's end-to-end tests in Debian's chromium against a varnel run.
# Usage: tests/browser/run.sh [VARNEL]   (or VARNEL=... in the environment)
# Exits 77 (skipped) only when chromium is not installed; scripts/setup.sh installs it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export VARNEL="${1:-${VARNEL:-}}"
export CHROMIUM="${CHROMIUM:-/usr/bin/chromium}"
if [ -z "$VARNEL" ] || [ ! -x "$VARNEL" ]; then
  echo "browser tests: no varnel executable given (argument or VARNEL)" >&2
  exit 2
fi
VARNEL="$(cd "$(dirname "$VARNEL")" && pwd)/$(basename "$VARNEL")"
if [ ! -x "$CHROMIUM" ]; then
  echo "SKIPPED: browser tests need chromium at $CHROMIUM (bash scripts/setup.sh installs it)"
  exit 77
fi
if ! command -v npm >/dev/null; then
  echo "browser tests: npm is missing (bash scripts/setup.sh installs it)" >&2
  exit 2
fi
cd "$here"
# The lock file pins playwright-core; the npm cache serves it when the registry is away.
npm ci --prefer-offline --no-audit --no-fund --loglevel=error
exec node --test --test-concurrency=1 --test-timeout=120000 tests/
