#!/bin/bash
# make_artwork.sh - regenerate all original artwork of ミルドカ (Meridocal).
#
# Everything is drawn from scratch with ImageMagick `convert` primitives;
# no external images are used.  The output is deterministic (no time
# stamps are written into the PNG files).
#
# Usage: resources/artwork/make_artwork.sh [output-dir]
#        (default output directory: the resources/ directory above this script)
#
# Files produced:
#   girl.gif    100x100 GIF   the secretary (head and shoulders)
#   icon.png    32x32  PNG    program icon (<= 16 colours)
#   icon.ico    32x32  ICO    same icon for Windows
#   pointer.png 32x32  PNG    mouse pointer: a pen, black/white/transparent only.
#                             HOT SPOT = (1,1)  (the pen's nib, top-left)
#   listen.png  24x24  PNG    tool bar: today's appointments (clipboard list)
#   plan.png    24x24  PNG    tool bar: enter an appointment (calendar + pencil)
#   sec.png     24x24  PNG    tool bar: secretary settings (person + gear)
#   delete.png  24x24  PNG    tool bar: purge past data (waste bin)
#   door.png    24x24  PNG    tool bar: exit (open door + arrow)
#   icons/hicolor/scalable/apps/io.github.meridocal.Meridocal.svg
#                             the program icon for the desktop's menus, as drawing
#                             commands: the same calendar page and pen as icon.png
#   icons/hicolor/NxN/apps/io.github.meridocal.Meridocal.png
#                             the same, rendered at 16, 22, 24, 32, 48, 64, 128, 256
#                             (needs rsvg-convert, Debian's librsvg2-bin)
#
# Most pictures are drawn at 4x their final size and reduced, which gives
# smooth (anti-aliased) edges.

set -euo pipefail
export LC_ALL=C

HERE=$(cd "$(dirname "$0")" && pwd)
OUT=${1:-$(dirname "$HERE")}
mkdir -p "$OUT"

command -v convert >/dev/null || { echo "ImageMagick 'convert' is required" >&2; exit 1; }

# PNG options: no date/time chunks, so repeated runs give identical files.
PNGOPT=(-define png:exclude-chunks=date,time +set date:create +set date:modify)

# gear POLYGON: cx cy r_outer r_inner teeth  ->  "x,y x,y ..." polygon points
gear() {
    awk -v cx="$1" -v cy="$2" -v ro="$3" -v ri="$4" -v n="$5" 'BEGIN {
        pi = atan2(0, -1); s = "";
        for (i = 0; i < n; i++) {
            a = 2 * pi * i / n; w = pi / n;
            # tooth: inner, outer, outer, inner
            split((a - w * 0.95) " " (a - w * 0.45) " " (a + w * 0.45) " " (a + w * 0.95), ang, " ");
            for (k = 1; k <= 4; k++) {
                r = (k == 1 || k == 4) ? ri : ro;
                s = s sprintf("%.1f,%.1f ", cx + r * cos(ang[k]), cy + r * sin(ang[k]));
            }
        }
        print s;
    }'
}

###########################################################################
# 1. girl.gif - 100x100, drawn at 400x400
###########################################################################
HAIR='#3b2a22'; SKIN='#f8d3b5'; SKIN_SH='#f0c4a2'; JACKET='#2f3e63'; LAPEL='#24304f'
convert -size 400x400 xc:'#e6f0fa' \
  -stroke none \
  -fill '#d4e4f4' -draw "circle 200 200 200 -20" \
  -fill "$HAIR" -draw "path 'M 95,175 C 80,60 320,60 305,175 L 318,300 C 300,330 100,330 82,300 Z'" \
  -fill "$SKIN_SH" -draw "rectangle 172 250 228 320" \
  -fill "$JACKET" -draw "path 'M 20,400 C 25,330 90,305 165,300 L 200,360 L 235,300 C 310,305 375,330 380,400 Z'" \
  -fill white -draw "path 'M 165,296 L 200,362 L 235,296 L 250,318 L 212,378 L 200,372 L 188,378 L 150,318 Z'" \
  -fill "$SKIN_SH" -draw "path 'M 172,300 L 200,352 L 228,300 Z'" \
  -fill "$LAPEL" -draw "path 'M 150,318 L 188,378 L 170,400 L 120,320 Z'" \
                 -draw "path 'M 250,318 L 212,378 L 230,400 L 280,320 Z'" \
  -fill '#e8b84a' -draw "rectangle 280 345 318 365" \
  -fill white     -draw "rectangle 285 350 313 353" \
  -fill "$SKIN_SH" -draw "ellipse 108 190 16 24 0 360" -draw "ellipse 292 190 16 24 0 360" \
  -fill "$SKIN" -draw "ellipse 200 180 92 108 0 360" \
  -fill "$HAIR" -draw "path 'M 104,185 C 95,80 160,62 205,66 C 265,68 310,105 296,185 C 285,140 260,120 235,112 C 215,140 160,150 125,130 C 112,150 108,165 104,185 Z'" \
  -fill none -stroke '#5a4034' -strokewidth 6 -draw "path 'M 225,82 C 250,86 275,100 287,125'" \
  -stroke none \
  -fill '#2a1d17' -draw "ellipse 160 190 12 16 0 360" -draw "ellipse 240 190 12 16 0 360" \
  -fill white -draw "circle 164 184 168 184" -draw "circle 244 184 248 184" \
  -fill none -stroke "$HAIR" -strokewidth 5 \
     -draw "path 'M 138,160 Q 158,150 178,158'" -draw "path 'M 222,158 Q 242,150 262,160'" \
  -stroke none -fill '#f4a6a0' -draw "ellipse 140 225 16 9 0 360" -draw "ellipse 260 225 16 9 0 360" \
  -fill none -stroke '#d9a07c' -strokewidth 4 -draw "path 'M 196,205 Q 200,215 206,212'" \
  -stroke '#b8454f' -strokewidth 6 -fill '#e06a72' -draw "path 'M 170,238 Q 200,268 230,238 Q 200,246 170,238 Z'" \
  -resize 100x100 +dither -colors 64 "GIF:$OUT/girl.gif"

###########################################################################
# 2. icon.png / icon.ico - 32x32, <= 16 colours: calendar page with a pen
#    (drawn at 128x128)
###########################################################################
convert -size 128x128 xc:none \
  -stroke none \
  -fill '#00000040' -draw "roundrectangle 14 18 118 122 12 12" \
  -fill white -stroke '#34425e' -strokewidth 6 -draw "roundrectangle 8 12 112 116 12 12" \
  -stroke none -fill '#d9434f' -draw "roundrectangle 11 15 109 44 9 9" -draw "rectangle 11 30 109 44" \
  -fill '#34425e' -draw "roundrectangle 30 4 40 26 5 5" -draw "roundrectangle 80 4 90 26 5 5" \
  -fill '#9fb4d6' \
     -draw "rectangle 22 56 36 66" -draw "rectangle 44 56 58 66" -draw "rectangle 66 56 80 66" -draw "rectangle 88 56 100 66" \
     -draw "rectangle 22 76 36 86" -draw "rectangle 66 76 80 86" \
     -draw "rectangle 22 96 36 106" -draw "rectangle 44 96 58 106" \
  -fill '#d9434f' -draw "rectangle 44 76 58 86" \
  -stroke '#34425e' -strokewidth 4 -fill '#f2b632' \
     -draw "polygon 70,114 78,96 114,60 124,70 88,106" \
  -fill '#34425e' -stroke none -draw "polygon 70,114 74,104 80,110" \
  -fill '#8a5a2b' -draw "polygon 114,60 124,70 127,66 118,57" \
  -resize 32x32 +dither -colors 16 "${PNGOPT[@]}" "PNG32:$OUT/icon.png"
convert "$OUT/icon.png" -define icon:auto-resize=32 "$OUT/icon.ico"

###########################################################################
# 3. pointer.png - 32x32, a pen; only black, white and full transparency.
#    Drawn at real size without anti-aliasing, then thresholded.
#    HOT SPOT: (1,1) - the tip of the nib (top-left corner).
###########################################################################
# pen axis runs from the tip (1,1) down-right at 45 degrees.
PEN=$(awk 'BEGIN {
    r = sqrt(0.5); tx = 1; ty = 1;
    # point at distance u along the axis, offset v across it
    #   axis d = (r, r), across p = (r, -r)
    n = split("0,0 9,4 30,4 33,2.5 33,-2.5 30,-4 9,-4", P, " ");
    s = "";
    for (i = 1; i <= n; i++) {
        split(P[i], q, ",");
        s = s sprintf("%.1f,%.1f ", tx + q[1]*r + q[2]*r, ty + q[1]*r - q[2]*r);
    }
    print s;
}')
NIB=$(awk 'BEGIN { r = sqrt(0.5); u = 4; v = 1.8;
    printf "1,1 %.1f,%.1f %.1f,%.1f", 1+u*r+v*r, 1+u*r-v*r, 1+u*r-v*r, 1+u*r+v*r }')
convert -size 32x32 xc:none +antialias \
  -fill white -stroke black -strokewidth 1 -draw "polygon $PEN" \
  -fill black -stroke black -draw "polygon $NIB" \
  -stroke black -draw "line 7,10 10,7" -draw "line 21,24 24,21" \
  -channel A -threshold 50% +channel \
  -channel RGB -threshold 50% +channel \
  "${PNGOPT[@]}" "PNG32:$OUT/pointer.png"

###########################################################################
# 4. tool bar buttons - 24x24, transparent; drawn at 96x96 and reduced
###########################################################################
small() { # small NAME  draw-arguments...
    local name=$1; shift
    convert -size 96x96 xc:none "$@" -resize 24x24 "${PNGOPT[@]}" "PNG32:$OUT/$name.png"
}
INK='#2e3a55'

# listen: clipboard with a list of today's appointments
small listen \
  -stroke "$INK" -strokewidth 6 -fill '#b7834f' -draw "roundrectangle 14 10 82 92 8 8" \
  -stroke none -fill white -draw "rectangle 22 20 74 84" \
  -stroke "$INK" -strokewidth 5 -fill '#c9ced8' -draw "roundrectangle 32 4 64 20 5 5" \
  -stroke none -fill '#d9434f' -draw "circle 31 36 36 36" -draw "circle 31 54 36 54" -draw "circle 31 72 36 72" \
  -fill "$INK" -draw "rectangle 42 32 68 40" -draw "rectangle 42 50 68 58" -draw "rectangle 42 68 62 76"

# plan: calendar page with a pencil
small plan \
  -stroke "$INK" -strokewidth 6 -fill white -draw "roundrectangle 6 14 78 88 8 8" \
  -stroke none -fill '#3f7fd0' -draw "rectangle 9 17 75 36" \
  -fill "$INK" -draw "roundrectangle 20 6 28 24 4 4" -draw "roundrectangle 56 6 64 24 4 4" \
  -fill '#9fb4d6' -draw "rectangle 16 46 28 56" -draw "rectangle 36 46 48 56" -draw "rectangle 56 46 68 56" \
                  -draw "rectangle 16 64 28 74" \
  -fill '#d9434f' -draw "rectangle 36 64 48 74" \
  -stroke "$INK" -strokewidth 5 -fill '#f2b632' -draw "polygon 50,92 56,76 84,48 94,58 66,86" \
  -stroke none -fill "$INK" -draw "polygon 50,92 53,83 59,89"

# sec: the secretary (person silhouette) with a small gear
GEAR_OUT=$(gear 70 70 25 16 6)
small sec \
  -stroke none -fill '#3f7fd0' -draw "circle 40 28 40 8" \
  -draw "path 'M 6,92 C 6,62 20,50 40,50 C 60,50 74,62 74,92 Z'" \
  -fill white -draw "polygon 32,50 40,62 48,50" \
  -stroke white -strokewidth 6 -fill '#7d879c' -draw "polygon $GEAR_OUT" \
  -stroke none -fill '#7d879c' -draw "polygon $GEAR_OUT" \
  -stroke "$INK" -strokewidth 3 -fill '#7d879c' -draw "polygon $GEAR_OUT" \
  -stroke "$INK" -strokewidth 3 -fill white -draw "circle 70 70 70 62"

# delete: waste bin
small delete \
  -stroke "$INK" -strokewidth 6 -fill '#9aa6bb' -draw "polygon 18,28 78,28 70,90 26,90" \
  -fill '#c9d1df' -draw "roundrectangle 10 16 86 28 4 4" \
  -fill none -draw "roundrectangle 38 6 58 16 4 4" \
  -strokewidth 5 -draw "line 36,40 38,80" -draw "line 48,40 48,80" -draw "line 60,40 58,80"

# door: open door with an arrow going out
small door \
  -stroke "$INK" -strokewidth 6 -fill '#f1e6d2' -draw "rectangle 8 6 56 92" \
  -fill '#b7834f' -draw "polygon 8,6 36,14 36,84 8,92" \
  -stroke none -fill "$INK" -draw "circle 30 50 33 50" \
  -fill '#2f9e55' -stroke '#1d6b37' -strokewidth 3 \
  -draw "polygon 46,40 70,40 70,26 94,50 70,74 70,60 46,60"

###########################################################################
# 5. desktop icons - the calendar page of icon.png, written as SVG on the
#    same 128x128 grid, then rendered at the theme's usual sizes
###########################################################################
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is required (librsvg2-bin)" >&2; exit 1; }
ID=io.github.meridocal.Meridocal
THEME=$OUT/icons/hicolor
mkdir -p "$THEME/scalable/apps"
SVG=$THEME/scalable/apps/$ID.svg
cat >"$SVG" <<'SVGEND'
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <rect x="14" y="18" width="104" height="104" rx="12" fill="#000000" fill-opacity="0.25"/>
  <rect x="8" y="12" width="104" height="104" rx="12" fill="#ffffff" stroke="#34425e" stroke-width="6"/>
  <rect x="11" y="15" width="98" height="29" rx="9" fill="#d9434f"/>
  <rect x="11" y="30" width="98" height="14" fill="#d9434f"/>
  <rect x="30" y="4" width="10" height="22" rx="5" fill="#34425e"/>
  <rect x="80" y="4" width="10" height="22" rx="5" fill="#34425e"/>
  <g fill="#9fb4d6">
    <rect x="22" y="56" width="14" height="10"/><rect x="44" y="56" width="14" height="10"/>
    <rect x="66" y="56" width="14" height="10"/><rect x="88" y="56" width="12" height="10"/>
    <rect x="22" y="76" width="14" height="10"/><rect x="66" y="76" width="14" height="10"/>
    <rect x="22" y="96" width="14" height="10"/><rect x="44" y="96" width="14" height="10"/>
  </g>
  <rect x="44" y="76" width="14" height="10" fill="#d9434f"/>
  <polygon points="70,114 78,96 114,60 124,70 88,106" fill="#f2b632" stroke="#34425e" stroke-width="4"
           stroke-linejoin="round"/>
  <polygon points="70,114 74,104 80,110" fill="#34425e"/>
  <polygon points="114,60 124,70 127,66 118,57" fill="#8a5a2b"/>
</svg>
SVGEND
for n in 16 22 24 32 48 64 128 256; do
  mkdir -p "$THEME/${n}x$n/apps"
  rsvg-convert -w "$n" -h "$n" "$SVG" | convert - "${PNGOPT[@]}" "PNG32:$THEME/${n}x$n/apps/$ID.png"
done

echo "artwork written to $OUT"
