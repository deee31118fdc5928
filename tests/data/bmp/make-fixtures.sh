#!/usr/bin/env bash
# Regenerates the bitmap fixtures of the bitmap decoder tests with ImageMagick, an independent
# writer. Run by hand from this folder; the outputs are committed and the tests never run this.
#   source.ppm     12 x 7 picture, > 16 colours, runs of 3 equal pixels. Every channel value is
#                  round(k * 255 / 31) for a k whose rounding goes up (or is exact): ImageMagick
#                  stores floor(value * 31 / 255), which is then k, and k decodes to the value.
#   source565.ppm  the same with green from the 6-bit values, for the 5-6-5 file.
set -euo pipefail
cd "$(dirname "$0")"

python3 - <<'PY'
def levels(bits):
    top = (1 << bits) - 1
    return [(k * 255 + top // 2) // top for k in range(top + 1)
            if (k * 255) % top == 0 or (k * 255) % top * 2 >= top]
def write(name, gbits):
    l5, lg = levels(5), levels(gbits)
    w, h = 12, 7
    out = bytearray(b"P6\n%d %d\n255\n" % (w, h))
    for y in range(h):
        for x in range(w):
            run = x // 3
            out += bytes([l5[(run * 9 + y * 5) % len(l5)],
                          lg[(run * 13 + y * 3) % len(lg)],
                          l5[(y * 7 + run) % len(l5)]])
    open(name, "wb").write(out)
write("source.ppm", 5)
write("source565.ppm", 6)
PY

convert source.ppm -type Palette -compress RLE bmp3:rle8.bmp
convert source.ppm -define bmp:subtype=RGB555 bmp:rgb555-v5.bmp
convert source565.ppm -define bmp:subtype=RGB565 bmp:rgb565-v5.bmp
convert source.ppm -alpha on -define bmp:subtype=ARGB8888 bmp:argb8888-v5.bmp
convert source.ppm -define bmp:format=bmp2 bmp2:os2-24.bmp
convert source.ppm -type Palette bmp2:os2-8.bmp
convert source.ppm -type Palette -compress None bmp:pal8-v5.bmp
convert source.ppm -type Palette bmp:rle8-v5.bmp
