#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Regenerates every PNG, the cover's PPMs and the .ico in ui/pictures from the
# SVG sources there, then checks that each file has the size and pixel format
# the windows expect.
# Needs the Debian packages librsvg2-bin, imagemagick, fonts-dejavu-core and
# python3.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$root/ui/pictures

for tool in rsvg-convert convert identify fc-match python3; do
    command -v "$tool" >/dev/null || { echo "render-pictures: $tool not found" >&2; exit 1; }
done
# Without DejaVu the renderer silently picks another font and the hand-broken
# lines of the notices may no longer fit.
for family in "DejaVu Sans" "DejaVu Sans:bold"; do
    [[ $(fc-match -f '%{family[0]}' "$family") == "DejaVu Sans" ]] \
        || { echo "render-pictures: font $family not installed (fonts-dejavu-core)" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# No metadata and no timestamp chunks, so a rerun on unchanged sources changes no file.
png_opts=(-strip -define 'png:exclude-chunks=date,time')

# Rewrites PNGs with no row filter, at zlib's best level, keeping every other
# chunk. Undoing the adaptive filters ImageMagick picks (mostly Paeth) cost the
# program more at start than the rest of decoding; unfiltered rows decode at
# about half the instructions, and the files come out smaller. ImageMagick's
# own filter settings are not used: what they select differs between versions.
unfilter() { # png...
    python3 - "$@" <<'PY'
import struct, sys, zlib

def chunks(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("render-pictures: not a PNG")
    i = 8
    while i < len(data):
        (n,) = struct.unpack(">I", data[i : i + 4])
        yield data[i + 4 : i + 8], data[i + 8 : i + 8 + n]
        i += 12 + n

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)

for path in sys.argv[1:]:
    parts = list(chunks(open(path, "rb").read()))
    w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", parts[0][1])
    if interlace:
        sys.exit(f"render-pictures: {path} is interlaced")
    bits = depth * {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    bpp, stride = max(1, bits // 8), (w * bits + 7) // 8
    raw = zlib.decompress(b"".join(body for kind, body in parts if kind == b"IDAT"))
    rows, prev = [], bytearray(stride)
    for y in range(h):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1 : start + 1 + stride])
        if kind:
            for x in range(stride):
                a = row[x - bpp] if x >= bpp else 0
                b, c = prev[x], prev[x - bpp] if x >= bpp else 0
                row[x] = (row[x] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 255
        rows.append(b"\0" + row)
        prev = row
    out = []
    for kind, body in parts:
        if kind != b"IDAT":
            out.append(chunk(kind, body))
        elif rows:
            out.append(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)))
            rows = None
    open(path, "wb").write(b"\x89PNG\r\n\x1a\n" + b"".join(out))
PY
}

# The windows draw the pictures as 24-bit colour: flatten onto white and force
# PNG colour type 2, since ImageMagick would otherwise pick grey or palette
# types for simple images.
render_rgb() { # svg out width height
    rsvg-convert -w "$3" -h "$4" "$dir/$1" -o "$tmp/render.png"
    convert "$tmp/render.png" -background white -alpha remove -alpha off "${png_opts[@]}" \
        -define png:color-type=2 "PNG24:$dir/$2"
}

# The welcome cover is decoded before the first paint: as binary PPM it needs
# no PNG inflating and no row transforms; with rcc's compression undone it
# costs about two thirds of the PNG's instructions.
render_ppm() { # svg out width height
    rsvg-convert -w "$3" -h "$4" "$dir/$1" -o "$tmp/render.png"
    convert "$tmp/render.png" -background white -alpha remove -alpha off -strip "PPM:$dir/$2"
}

render_palette() { # svg out width height
    rsvg-convert -w "$3" -h "$4" "$dir/$1" -o "$tmp/render.png"
    convert "$tmp/render.png" -background white -alpha remove -alpha off "${png_opts[@]}" \
        -colors 16 "PNG8:$dir/$2"
}

render_rgb background.svg background.png 353 263
render_rgb background.svg background@2x.png 706 526
render_ppm cover.svg cover.ppm 274 272
render_ppm cover.svg cover@2x.ppm 548 544
render_rgb farewell.svg farewell.png 209 289
render_rgb farewell.svg farewell@2x.png 418 578
render_palette icon.svg icon.png 32 32
render_palette icon.svg icon@2x.png 64 64
render_rgb icon.svg icon-48.png 48 48
render_rgb icon.svg icon-128.png 128 128
render_rgb icon.svg icon-256.png 256 256

# The small icons are drawn side by side in one source at their own pixel
# size; each is cut out of it, so no scaling blurs them.
cut_rgb() { # svg out x width
    rsvg-convert "$dir/$1" -o "$tmp/render.png"
    convert "$tmp/render.png" -crop "$4x$4+$3+0" +repage -background white -alpha remove \
        -alpha off "${png_opts[@]}" -define png:color-type=2 "PNG24:$dir/$2"
}
cut_rgb icon-small.svg icon-16.png 0 16
cut_rgb icon-small.svg icon-22.png 20 22
cut_rgb icon-small.svg icon-24.png 46 24

unfilter "$dir"/*.png

convert "$dir/icon-16.png" "$dir/icon.png" "$dir/icon-48.png" "$dir/icon-256.png" \
    -background white -alpha remove -alpha off -strip "$dir/quillo.ico"

failed=0
fail() {
    echo "render-pictures: $1" >&2
    failed=1
}

check() { # file width height rgb|palette|ppm
    local file=$dir/$1 format='%w %h %A %k %m' got
    [[ $4 == ppm ]] || format+=' %[png:IHDR.color-type-orig]'
    got=$(identify -format "$format" "$file")
    read -r w h alpha colours magick type <<<"$got"
    [[ "$w x $h" == "$2 x $3" ]] || fail "$1 is $w x $h, expected $2 x $3"
    [[ $alpha == False ]] || fail "$1 has an alpha channel"
    case $4 in
    rgb) [[ $type == 2 ]] || fail "$1 has PNG colour type $type, expected 2 (RGB)" ;;
    palette)
        [[ $type == 3 ]] || fail "$1 has PNG colour type $type, expected 3 (palette)"
        ((colours <= 16)) || fail "$1 has $colours colours, expected at most 16"
        ;;
    ppm) [[ $magick == PPM ]] || fail "$1 is $magick, expected PPM" ;;
    esac
}

check background.png 353 263 rgb
check background@2x.png 706 526 rgb
check cover.ppm 274 272 ppm
check cover@2x.ppm 548 544 ppm
check farewell.png 209 289 rgb
check farewell@2x.png 418 578 rgb
check icon.png 32 32 palette
check icon@2x.png 64 64 palette
check icon-16.png 16 16 rgb
check icon-22.png 22 22 rgb
check icon-24.png 24 24 rgb
check icon-48.png 48 48 rgb
check icon-128.png 128 128 rgb
check icon-256.png 256 256 rgb

sizes=$(identify -format '%wx%h ' "$dir/quillo.ico")
[[ $sizes == "16x16 32x32 48x48 256x256 " ]] || fail "quillo.ico holds $sizes, expected 16, 32, 48 and 256"

((failed == 0)) || exit 1
echo "render-pictures: all pictures rendered and checked"
