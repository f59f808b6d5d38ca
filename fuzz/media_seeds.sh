#!/usr/bin/env bash
# Makes the media target's seeds in fuzz/corpus/media: two small class
# recordings (H.264 with B-frames and AAC, in MP4 and FLV) made with ffmpeg,
# and the same cut short, overwritten, zeroed, repeated, with header sizes
# set to extremes, as well as nothing, noise and bare headers. Each seed
# stays under the 16 KB that ./run fuzz gives an input. The seeds are kept
# in the repository, so that ./run test runs the same bytes everywhere;
# run this again only to change them.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/corpus/media
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out" && mkdir -p "$out"
RANDOM=20261206

for ext in mp4 flv; do
  flags=()
  [ $ext = mp4 ] && flags=(-movflags +faststart)
  ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 \
    -t 0.6 -c:v libx264 -preset veryfast -crf 40 -g 12 -pix_fmt yuv420p -c:a aac -b:a 24k "${flags[@]}" \
    "$out/base.$ext"
done

size() { stat -c %s "$1"; }
# put FILE OFFSET BYTES...: overwrites bytes (given as octal escapes) in place.
put() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

for ext in mp4 flv; do
  base=$out/base.$ext
  n=$(size "$base")
  for part in 1 4 7 11; do
    head -c $((n * part / 12)) "$base" >"$out/cut$part.$ext"
  done
  for hits in 3 400; do
    for from in 0 200; do
      f=$out/overwritten${hits}from$from.$ext
      cp "$base" "$f"
      for ((i = 0; i < hits; i++)); do
        at=$((from + (RANDOM * 32768 + RANDOM) % (n - from)))
        value=$((RANDOM % 256)) # here: a subshell would draw from a generator of its own
        put "$f" $at "$(printf '\\%03o' $value)"
      done
    done
  done
  at=$((RANDOM % (n / 2)))
  cp "$base" "$out/zeroed.$ext"
  dd if=/dev/zero of="$out/zeroed.$ext" bs=1 seek=$at count=512 conv=notrunc status=none
  { head -c $at "$base"; tail -c +$((at / 2 + 1)) "$base" | head -c 4096; tail -c +$((at + 1)) "$base"; } >"$out/repeated.$ext"
  cp "$base" "$out/extremes.$ext"
  for ((p = 8; p < 400 && p + 4 < n; p += 37)); do put "$out/extremes.$ext" $p '\177\377\377\377'; done
done

# Noise that is the same on every run: AES in counter mode over zeros.
openssl enc -aes-128-ctr -nosalt -K 7461766900000000000000000000000 -iv 0 </dev/zero 2>/dev/null |
  head -c 12000 >"$work/noise" || true
: >"$out/empty"
cp "$work/noise" "$out/noise"
head -c 13 "$out/base.flv" >"$out/header.flv"
{ head -c 40 "$out/base.mp4"; cat "$work/noise"; } >"$out/header_noise.mp4"
ls -l "$out"
