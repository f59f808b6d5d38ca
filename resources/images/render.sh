#!/bin/sh
# Redraws every built-in picture from its SVG source, and the application's
# icon in the hicolor sizes (needs rsvg-convert from librsvg2-bin). The PNGs
# are committed, so a build never needs this.
cd "$(dirname "$0")/sys" || exit 1
for f in *.svg; do
  rsvg-convert "$f" -o "${f%.svg}.png" || exit 1
done
cd ../../icons/hicolor || exit 1
for n in 16 22 24 32 48 64 128 256; do
  mkdir -p "${n}x$n/apps"
  rsvg-convert -w "$n" -h "$n" scalable/apps/tavi.svg -o "${n}x$n/apps/tavi.png" || exit 1
done
