#!/usr/bin/env bash
# Renders the PNG sizes of the icon from its SVG; run after changing the SVG
# and commit the results (the build installs them as they are). Needs
# rsvg-convert (apt-get install librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for n in 16 24 32 48 64 128 256; do
    mkdir -p "${n}x${n}"
    rsvg-convert -w "$n" -h "$n" com.norvane.Cmdora.svg -o "${n}x${n}/com.norvane.Cmdora.png"
done
