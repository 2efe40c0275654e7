#!/usr/bin/env bash
# Draws the installer's artwork into resources/: the side picture of the Welcome and
# Finish pages, the header picture of the inner pages and the program icon. The
# program scales the two pictures to their frames at other DPIs.
# The build does not run this; its outputs are checked in. Needs ImageMagick 6 and
# the DejaVu fonts. The same inputs give byte-identical files.
#
# Pixel sizes follow the dialog base units of "Tahoma" 9 point at 96 dpi: 7 x 14 px
# per 4 x 8 dialog units, so 94 x 168 units = 165 x 294 px and 83 x 31 units = 145 x 54 px.
# A static SS_BITMAP control resizes itself to its bitmap, so these must match exactly.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${1:-$ROOT/resources}
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$FONT" ] || {
    echo "make_artwork.sh: $FONT is missing (package fonts-dejavu-core)" >&2
    exit 1
}
export LC_ALL=C MAGICK_THREAD_LIMIT=1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

SIDE_W=165 SIDE_H=294
HEAD_W=145 HEAD_H=54
SS=4 # everything is drawn at SS times the size, then scaled down for smooth edges

# emblem file size colour [thick] [waves]: the mark on a transparent square. The mark is a
# rounded diamond (the hub) cut by flowing waves. thick > 1 widens the cuts so they
# survive small renderings; waves is how many cuts there are.
emblem() {
    local s=$2 big=$(($2 * SS)) k=${4:-1} n=${5:-2}
    local shape cuts
    shape=$(awk -v S="$big" 'BEGIN {
        c = S / 2; D = 0.44 * S
        printf "polygon %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f", c, c - D, c + D, c, c, c + D, c - D, c }')
    cuts=$(awk -v S="$big" -v N="$n" 'BEGIN {
        pi = atan2(0, -1); c = S / 2
        for (i = 0; i < N; i++) {
            y0 = c + S * (0.0 + 0.2 * i); amp = S * 0.055
            printf "path \"M %.1f,%.1f", -S * 0.1, y0
            for (x = -S * 0.1; x <= S * 1.1; x += S / 64)
                printf " L %.1f,%.1f", x, y0 - amp * sin((x - 0.06 * S) / (0.88 * S) * 2 * pi)
            printf "\" "
        }
    }')
    convert -size "${big}x${big}" xc:none -fill "$3" -stroke "$3" \
        -strokewidth $((big * 9 / 100)) -draw "stroke-linejoin round $shape" \
        \( -size "${big}x${big}" xc:none -fill none -stroke black \
        -strokewidth "$(awk -v S="$big" -v K="$k" 'BEGIN { printf "%.1f", 0.075 * S * K }')" \
        -draw "stroke-linecap round $cuts" \) -compose DstOut -composite \
        -filter Lanczos -resize "${s}x${s}" PNG32:"$1"
}

# badge file size [thick] [waves]: the mark in white on a rounded blue tile, as in the icon.
badge() {
    local s=$2 big=$(($2 * SS))
    local r=$((big * 22 / 100)) m=$((big * 3 / 100)) e=$((big * 68 / 100))
    convert -size "${big}x${big}" xc: -sparse-color Bilinear \
        "0,0 #3a97ee $big,0 #1d62c4 0,$big #134fa8 $big,$big #0a2f74" PNG32:"$WORK/badge_grad.png"
    convert -size "${big}x${big}" xc:none -fill white \
        -draw "roundrectangle $m,$m $((big - m - 1)),$((big - m - 1)) $r,$r" PNG32:"$WORK/badge_mask.png"
    # A soft gloss over the upper half makes the tile read as a button, not a flat square.
    convert -size "${big}x${big}" xc:none -fill 'rgba(255,255,255,0.16)' \
        -draw "ellipse $((big / 2)),$((big * 8 / 100)) $((big * 70 / 100)),$((big * 42 / 100)) 0,360" \
        PNG32:"$WORK/badge_gloss.png"
    SS=1 emblem "$WORK/badge_mark.png" "$e" white "${3:-1}" "${4:-2}"
    convert "$WORK/badge_grad.png" "$WORK/badge_gloss.png" -compose over -composite \
        "$WORK/badge_mark.png" -gravity center -compose over -composite \
        "$WORK/badge_mask.png" -compose copy-opacity -composite \
        -filter Lanczos -resize "${s}x${s}" PNG32:"$1"
}

side_picture() {
    local w=$((SIDE_W * SS)) h=$((SIDE_H * SS))
    # Deep blue, lighter towards the upper left where the light comes from.
    convert -size "${w}x${h}" xc: -sparse-color Bilinear \
        "0,0 #1b63b8 $w,0 #0e3f86 0,$h #0a2c63 $w,$h #061a40" "$WORK/side_bg.png"
    # Light rays fanning out of the upper-left corner.
    local rays=""
    for a in 18 31 47 62; do
        rays="$rays $(awk -v a="$a" -v L="$((h * 2))" 'BEGIN {
            pi = atan2(0, -1); d = 2.2
            printf "polygon 0,0 %.1f,%.1f %.1f,%.1f", L * cos((a - d) * pi / 180), L * sin((a - d) * pi / 180),
                L * cos((a + d) * pi / 180), L * sin((a + d) * pi / 180) }')"
    done
    convert -size "${w}x${h}" xc:none -fill 'rgba(190,225,255,0.07)' -draw "$rays" \
        -blur 0x$((3 * SS)) "$WORK/side_rays.png"
    # A glow in the upper left.
    convert -size "${w}x${h}" xc:none -fill 'rgba(140,200,255,0.30)' \
        -draw "circle $((w * 20 / 100)),$((h * 8 / 100)) $((w * 95 / 100)),$((h * 8 / 100))" \
        -blur 0x$((28 * SS)) "$WORK/side_glow.png"
    # Rings around a centre beyond the lower right: the ripples of the mark.
    local rings="" cx=$((w * 118 / 100)) cy=$((h * 92 / 100)) r
    for r in 70 92 116 142 170 200; do
        rings="$rings circle $cx,$cy $((cx + r * SS)),$cy"
    done
    convert -size "${w}x${h}" xc:none -fill none -stroke 'rgba(160,215,255,0.12)' \
        -strokewidth $((SS * 12 / 10)) -draw "$rings" "$WORK/side_rings.png"
    # Layered swells across the bottom, each crest traced by a brighter line.
    local k
    for k in 0 1 2; do
        awk -v W="$w" -v H="$h" -v k="$k" 'BEGIN {
            pi = atan2(0, -1); y0 = H * (0.79 + 0.055 * k); amp = H * (0.022 - 0.004 * k)
            f = 1.1 + 0.35 * k; ph = 1.7 * k
            pts = ""
            for (x = 0; x <= W; x += W / 80)
                pts = pts sprintf(" %.1f,%.1f", x, y0 + amp * sin(x / W * 2 * pi * f + ph))
            printf "fill rgba(120,195,255,%.2f) stroke none polygon 0,%d%s %d,%d\n", 0.07 + 0.03 * k, H, pts, W, H
            printf "fill none stroke rgba(175,225,255,%.2f) stroke-width %d polyline%s\n", 0.30 - 0.06 * k, 5, pts
        }'
    done >"$WORK/side_waves.mvg"
    convert -size "${w}x${h}" xc:none -draw "$(cat "$WORK/side_waves.mvg")" PNG32:"$WORK/side_waves.png"
    # The mark, with a soft halo behind it, and the product name under it.
    local ms=76 my=64
    local mx=$(((SIDE_W - ms) / 2))
    emblem "$WORK/side_mark.png" "$ms" white
    convert "$WORK/side_mark.png" -background none -channel A -evaluate multiply 0.9 +channel \
        "$WORK/side_mark.png"
    convert -size "${SIDE_W}x${SIDE_H}" xc:none -fill 'rgba(120,190,255,0.55)' \
        -draw "circle $((mx + ms / 2)),$((my + ms / 2)) $((mx + ms)),$((my + ms / 2))" \
        -blur 0x14 "$WORK/side_halo.png"
    convert "$WORK/side_bg.png" "$WORK/side_glow.png" -compose screen -composite \
        "$WORK/side_rays.png" -compose over -composite \
        "$WORK/side_rings.png" -compose over -composite \
        "$WORK/side_waves.png" -compose over -composite \
        -filter Lanczos -resize "${SIDE_W}x${SIDE_H}!" \
        "$WORK/side_halo.png" -compose screen -composite \
        "$WORK/side_mark.png" -geometry "+$mx+$my" -compose over -composite \
        \( -size "${SIDE_W}x20" xc:none -font "$FONT" -pointsize 10.5 -kerning 3.2 \
        -fill 'rgba(235,245,255,0.92)' -gravity center -annotate +0+0 LANSHU \) \
        -gravity north -geometry +2+$((my + ms + 12)) -compose over -composite \
        -fill 'rgba(150,205,255,0.55)' \
        -draw "rectangle $((SIDE_W / 2 - 14)),$((my + ms + 36)) $((SIDE_W / 2 + 13)),$((my + ms + 36))" \
        -alpha off -type TrueColor BMP3:"$OUT/side_picture.bmp"
}

header_picture() {
    local w=$((HEAD_W * SS)) h=$((HEAD_H * SS)) bs=40 right=14
    local bx=$((HEAD_W - bs - right)) by=$(((HEAD_H - bs) / 2))
    # Ripples spreading out of the mark to the left, fading into the white band.
    local arcs="" cx=$(((bx + bs / 2) * SS)) cy=$(((by + bs / 2) * SS)) r
    for r in 30 39 49 60 72 85 99; do
        arcs="$arcs circle $cx,$cy $((cx + r * SS)),$cy"
    done
    convert -size "${w}x${h}" xc:white -fill none -stroke '#b4d1f0' \
        -strokewidth $((SS * 12 / 10)) -draw "$arcs" PNG32:"$WORK/head_arcs.png"
    convert -size "${h}x${w}" gradient:black-white -rotate 90 -level 0%,85% "$WORK/head_fade_x.png"
    convert "$WORK/head_arcs.png" \( -size "${w}x${h}" xc:white \) \
        "$WORK/head_fade_x.png" -compose over -composite PNG32:"$WORK/head_bg.png"
    convert "$WORK/head_bg.png" -filter Lanczos -resize "${HEAD_W}x${HEAD_H}!" \
        PNG32:"$WORK/head_small.png"
    # Pure white along every edge, so the picture shows no border inside the white band.
    convert -size "${HEAD_W}x${HEAD_H}" xc:black -fill white \
        -draw "rectangle 4,4 $((HEAD_W - 5)),$((HEAD_H - 5))" -blur 0x2 "$WORK/head_edge.png"
    badge "$WORK/head_badge.png" "$bs"
    convert "$WORK/head_badge.png" -background none -shadow 35x2+0+1 "$WORK/head_shadow.png"
    convert "$WORK/head_small.png" \
        "$WORK/head_shadow.png" -geometry +$((bx - 4))+$((by - 4 + 1)) -compose over -composite \
        "$WORK/head_badge.png" -geometry +$bx+$by -compose over -composite \
        PNG32:"$WORK/head_full.png"
    convert -size "${HEAD_W}x${HEAD_H}" xc:white "$WORK/head_full.png" "$WORK/head_edge.png" \
        -compose over -composite -shave 1x1 -bordercolor white -border 1x1 \
        -alpha off -type TrueColor BMP3:"$OUT/header_picture.bmp"
}

# The sizes Windows shows the icon at from 100 to 200 percent: 16/20/24/32 in
# title bars and small lists, 32/40/48/64 for large ones. Smaller renderings
# get bolder cuts, and the two smallest only one.
icon() {
    badge "$WORK/icon64.png" 64
    badge "$WORK/icon48.png" 48
    badge "$WORK/icon40.png" 40 1.1
    badge "$WORK/icon32.png" 32 1.2
    badge "$WORK/icon24.png" 24 1.4
    badge "$WORK/icon20.png" 20 1.6 1
    badge "$WORK/icon16.png" 16 1.7 1
    convert "$WORK"/icon{64,48,40,32,24,20,16}.png "$OUT/setup.ico"
}

mkdir -p "$OUT"
side_picture
header_picture
icon
echo "artwork written to $OUT"
