#!/usr/bin/env bash
# The Home Assistant app's icon.png (128x128) and logo.png (250x100) from the web page's
# icon, with Debian's rsvg-convert (librsvg2-bin, installed by scripts/setup.sh). The
# PNGs are committed; run this again when favicon.svg changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
svg=$root/src/web/page/favicon.svg
out=$root/packaging/home-assistant/varnel
command -v rsvg-convert >/dev/null || { echo "ha-icons.sh: rsvg-convert missing (bash scripts/setup.sh)" >&2; exit 1; }

rsvg-convert -w 128 -h 128 -o "$out/icon.png" "$svg"

# The logo: the icon at 100x100 beside the name, drawn from the same 32x32 artwork.
inner=$(sed -e 's/^<svg[^>]*>//' -e 's#</svg>[[:space:]]*$##' "$svg")
tmp=$(mktemp --suffix=.svg)
trap 'rm -f "$tmp"' EXIT
cat >"$tmp" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="250" height="100" viewBox="0 0 250 100">
<g transform="translate(4 4) scale(2.875)">$inner</g>
<text x="104" y="63" font-family="DejaVu Sans" font-weight="bold" font-size="35" fill="#1f5fbf">varnel</text>
</svg>
SVG
rsvg-convert -w 250 -h 100 -o "$out/logo.png" "$tmp"
echo "$out/icon.png $out/logo.png"
