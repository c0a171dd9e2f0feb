#!/usr/bin/env bash
# Renders the program's icon from resources/icon.svg: PNGs at 16, 32, 48 and 256 pixels (the
# Linux window icon, embedded at build time) and resources/app.ico with all four sizes (the
# Windows resource script). Needs ImageMagick. The results are committed; run this again after
# changing the drawing.
set -euo pipefail
cd "$(dirname "$0")/../resources"

command -v convert >/dev/null || { echo "make-icons.sh: ImageMagick's convert is missing" >&2; exit 1; }

sizes=(16 32 48 256)
pngs=()
for size in "${sizes[@]}"; do
  # Render at the target size (the drawing is 256 units across at 96 dpi) rather than scaling
  # one large bitmap down, so small sizes stay crisp. No dates in the files: reruns give the
  # same bytes.
  convert -background none -density $((96 * size * 4 / 256)) icon.svg -resize "${size}x${size}" \
    -depth 8 -strip -define png:exclude-chunks=date,time "icon-$size.png"
  pngs+=("icon-$size.png")
done
convert "${pngs[@]}" app.ico
echo "wrote ${pngs[*]} app.ico in resources/"
