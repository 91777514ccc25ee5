#!/usr/bin/env bash
# Draws the application icon once: a white up-arrow on a blue rounded square, in the nine sizes
# the resource carries. Sizes up to 40 are stored as bitmaps, larger ones as PNG, which keeps the
# file small. Run it again only when the design changes; vantoup.ico is committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/convert -size 256x256 xc:none \
  -fill '#1f5fbf' -draw 'roundrectangle 8,8 247,247 48,48' \
  -fill white -draw 'polygon 128,36 216,132 160,132 160,220 96,220 96,132 40,132' \
  "$work/master.png"
sizes=(16 20 24 32 40 48 64 128 256)
for size in "${sizes[@]}"; do
  /usr/bin/convert "$work/master.png" -resize "${size}x${size}" -depth 8 -strip "$work/$size.png"
  if [ "$size" -le 40 ]; then /usr/bin/convert "$work/$size.png" "$work/$size.ico"; fi
done
python3 - "$work" "$here/vantoup.ico" "${sizes[@]}" <<'PY'
import struct, sys
work, out, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]
entries, blobs = [], []
for size in sizes:
    if size <= 40:
        # The single bitmap image of a one-image .ico, with its directory fields.
        data = open(f"{work}/{size}.ico", "rb").read()
        colors, planes, bits, length, offset = struct.unpack_from("<BxHHII", data, 6 + 2)
        blob = data[offset:offset + length]
    else:
        blob, planes, bits = open(f"{work}/{size}.png", "rb").read(), 1, 32
    entries.append((size % 256, size % 256, planes, bits, len(blob)))
    blobs.append(blob)
offset = 6 + 16 * len(blobs)
with open(out, "wb") as ico:
    ico.write(struct.pack("<HHH", 0, 1, len(blobs)))
    for (width, height, planes, bits, length) in entries:
        ico.write(struct.pack("<BBBBHHII", width, height, 0, 0, planes, bits, length, offset))
        offset += length
    for blob in blobs:
        ico.write(blob)
PY
