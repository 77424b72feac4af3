#!/usr/bin/env bash
# Renders the reader's PNG icons (hicolor sizes 16 to 256) from its SVG; run after changing the SVG and
# commit the PNGs, so that building never needs an SVG renderer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
id=nl.vornak.VornakReader2026
icons="$here/desktop/icons/hicolor"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert ontbreekt: bash tools/install.sh --no-build" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$icons/${size}x${size}/apps"
  out="$icons/${size}x${size}/apps/$id.png"
  rsvg-convert -w "$size" -h "$size" "$icons/scalable/apps/$id.svg" -o "$out.tmp"
  mv "$out.tmp" "$out"
done
