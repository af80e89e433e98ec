#!/usr/bin/env bash
# Real photographs for the benchmarks: Debian's python3-skimage sample
# photos scaled to 6000 x 4000 with vips (RGB, 8 bits, PNG), one file each
# in OUT_DIR. A dark photo of space (flat black), and upscaled ones (smooth
# areas, most neighbouring pixels equal). Prints the files made; makes
# nothing (and says why) when the photos or vips are missing. With -q, also
# a baseline JPEG of each at that quality (vips, chroma halved both ways as
# cameras store it), listed after the PNGs.
#
# Usage: bash bench/photo/make_photos.sh [-q QUALITY] OUT_DIR [WIDTH HEIGHT]
set -euo pipefail
QUALITY=""
if [ "${1:-}" = -q ]; then
  QUALITY=${2:?usage: make_photos.sh [-q QUALITY] OUT_DIR [WIDTH HEIGHT]}
  shift 2
fi
OUT=${1:?usage: make_photos.sh [-q QUALITY] OUT_DIR [WIDTH HEIGHT]}
W=${2:-6000}
H=${3:-4000}
DATA=/usr/lib/python3/dist-packages/skimage/data
command -v vips > /dev/null || { echo "make_photos: vips is missing (libvips-tools)" >&2; exit 0; }
[ -d "$DATA" ] || { echo "make_photos: $DATA is missing (python3-skimage)" >&2; exit 0; }
mkdir -p "$OUT"
made=()
for name in hubble_deep_field.jpg astronaut.png coffee.png chelsea.png; do
  src="$DATA/$name"
  [ -f "$src" ] || continue
  dst="$OUT/${name%.*}-${W}x${H}.png"
  if [ ! -f "$dst" ]; then
    sw=$(vipsheader -f width "$src")
    sh=$(vipsheader -f height "$src")
    tmp="$dst.tmp.v"
    vips resize "$src" "$tmp" "$(awk -v a="$W" -v b="$sw" 'BEGIN { printf "%.9f", a / b }')" \
      --vscale "$(awk -v a="$H" -v b="$sh" 'BEGIN { printf "%.9f", a / b }')"
    # Three 8-bit bands: the samples are sRGB photos.
    vips cast "$tmp" "$dst" uchar
    rm -f "$tmp"
  fi
  echo "$dst"
  made+=("$dst")
done
[ -n "$QUALITY" ] || exit 0
for png in "${made[@]}"; do
  jpg="${png%.png}-q$QUALITY.jpg"
  [ -f "$jpg" ] || vips jpegsave "$png" "$jpg" --Q "$QUALITY" --subsample-mode on --strip
  echo "$jpg"
done
