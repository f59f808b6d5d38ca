#!/bin/sh
# Redraws every built-in picture from its SVG source (needs rsvg-convert
# from librsvg2-bin). The PNGs are committed, so a build never needs this.
cd "$(dirname "$0")/sys" || exit 1
for f in *.svg; do
  rsvg-convert "$f" -o "${f%.svg}.png" || exit 1
done
