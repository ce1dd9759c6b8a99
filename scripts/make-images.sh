#!/usr/bin/env bash
# Draws every image the user interface shows into ui/resource/ with ImageMagick.
#
# Each picture is drawn from plain shapes at eight times its final size and averaged down, so edges stay
# smooth at the small sizes the widgets use. Re-running writes the same bytes: no dates, no metadata, no
# dithering. Sizes follow how the widgets show them: images that a label or a border-image scales are
# drawn at twice the shown size, icons that a button draws are drawn at the size it shows them and again
# at twice that size as NAME@2x.png, which Qt picks on screens scaled above 100 %.
#
# Usage: scripts/make-images.sh [output folder]   (default: ui/resource beside this script)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$here/ui/resource}"
mkdir -p "$out"

if command -v magick >/dev/null 2>&1; then
  im=(magick)
elif command -v convert >/dev/null 2>&1; then
  im=(convert)
else
  echo "make-images: ImageMagick (convert or magick) is needed" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Supersampling factor: every picture is drawn this many times larger and box-averaged down.
ss=8

# The program's colours.
teal='rgb(13,85,104)'     # title bars, card buttons
blue='rgb(0,138,255)'     # selection blue
slate='rgb(84,94,106)'    # window buttons on the light grey pages
red='rgb(192,64,54)'      # destructive actions
white='rgb(255,255,255)'

# Output settings that keep reruns byte-identical.
png_opts=(-strip -define png:exclude-chunks=bKGD,cHRM,gAMA,iCCP,sRGB,pHYs,tEXt,zTXt,iTXt,tIME,date,time)

# layer SIZE DESIGN MVG: one shape layer (big canvas, transparent) as an ImageMagick argument list in
# the global array "layer_args". MVG coordinates are in a DESIGN x DESIGN box that maps onto the picture.
layer() {
  local size=$1 design=$2 mvg=$3
  local big=$((size * ss))
  local scale
  scale="$(awk -v b="$big" -v d="$design" 'BEGIN { printf "%.6f", b / d }')"
  layer_args=('(' -size "${big}x${big}" xc:none -draw "scale $scale,$scale $mvg" ')')
}

# glyph SIZE DESIGN DEST BASE OPS...: composes a picture and writes it as a SIZE x SIZE PNG.
#   BASE is an MVG drawing for the background shape ("" for none), OPS are "add:MVG" (paint on top)
#   and "cut:MVG" (erase what lies under the shape), applied in order to a transparent glyph layer,
#   which then lies over the base. Cuts never reach the base, so the base shows through them.
# Open arcs are drawn as rings with a wedge cut away: stroking an open path closes it in some
# ImageMagick versions.
glyph() {
  local size=$1 design=$2 dest=$3 base=$4
  shift 4
  local big=$((size * ss))
  local args=(-size "${big}x${big}" xc:none)
  local op
  for op in "$@"; do
    layer "$size" "$design" "${op#*:}"
    case "$op" in
      add:*) args+=("${layer_args[@]}" -compose Over -composite) ;;
      cut:*) args+=("${layer_args[@]}" -compose DstOut -composite) ;;
      *) echo "make-images: bad op $op" >&2; exit 1 ;;
    esac
  done
  if [ -n "$base" ]; then
    layer "$size" "$design" "$base"
    args=("${layer_args[@]}" '(' "${args[@]}" ')' -compose Over -composite)
  fi
  "${im[@]}" "${args[@]}" -filter Box -resize "${size}x${size}" "${png_opts[@]}" "PNG32:$dest"
}

# ---------------------------------------------------------------------------------------------------
# The product mark in a 256 box: a printer whose paper feed is a cloud, a sheet coming out below.
# Drawn white; the gaps between the parts are cut so the tile's colour runs between them.

cloud='circle 100,100 100,74 circle 138,78 138,42 circle 174,102 174,78 roundrectangle 72,92 198,128 18,18'
mark_ops=(
  "add:fill $white roundrectangle 36,112 220,196 24,24"
  "cut:fill black stroke black stroke-width 22 $cloud"
  "cut:fill black roundrectangle 68,154 188,240 14,14"
  "cut:fill black circle 194,150 194,141"
  "add:fill $white $cloud"
  "add:fill $white roundrectangle 80,166 176,236 8,8"
  "cut:fill none stroke black stroke-width 9 stroke-linecap round line 100,190 156,190 line 100,210 140,210"
)

# At 16 px the lines on the sheet and the status light only blur: a simpler mark in a 16 box, its edges
# on whole pixels, with one clear pixel between the parts.
cloud_small='circle 5,6 5,4 circle 8.8,5 8.8,2 circle 11.6,6.3 11.6,4.6 roundrectangle 3,6.3 13.3,8 1,1'
mark_ops_small=(
  "add:fill $white $cloud_small"
  "add:fill $white roundrectangle 1,9 15,13 1.2,1.2"
  "cut:fill black rectangle 3,11 13,16"
  "add:fill $white rectangle 4,12 12,15"
)

# tile SIZE DEST: the mark on a rounded tile that runs from the selection blue into the title bar teal.
tile() {
  local size=$1 dest=$2
  local big=$((size * ss))
  local r
  r="$(awk -v s="$big" 'BEGIN { printf "%.4f", s / 256 }')"
  "${im[@]}" -size "${big}x${big}" -define gradient:angle=135 "gradient:rgb(24,150,255)-rgb(13,85,104)" \
    '(' -size "${big}x${big}" xc:none -draw "scale $r,$r fill white roundrectangle 6,6 250,250 58,58" ')' \
    -compose DstIn -composite -filter Box -resize "${size}x${size}" "$work/tilebase.png"
  if [ "$size" -le 16 ]; then
    glyph "$size" 16 "$work/tilemark.png" "" "${mark_ops_small[@]}"
  else
    glyph "$size" 256 "$work/tilemark.png" "" "${mark_ops[@]}"
  fi
  "${im[@]}" "$work/tilebase.png" "$work/tilemark.png" -compose Over -composite "${png_opts[@]}" "PNG32:$dest"
}

# disc_button NAME COLOUR OPS...: a 39 px round card button, a flat disc with a white glyph, as NAME.png
# and NAME@2x.png.
disc_button() {
  local name=$1 colour=$2
  shift 2
  glyph 39 39 "$out/$name.png" "fill $colour circle 19.5,19.5 19.5,0.4" "$@"
  glyph 78 39 "$out/$name@2x.png" "fill $colour circle 19.5,19.5 19.5,0.4" "$@"
}

# icon SIZE NAME OPS...: a button icon drawn in a SIZE box, as NAME.png at SIZE and NAME@2x.png at twice it.
icon() {
  local size=$1 name=$2
  shift 2
  glyph "$size" "$size" "$out/$name.png" "" "$@"
  glyph $((size * 2)) "$size" "$out/$name@2x.png" "" "$@"
}

# ---------------------------------------------------------------------------------------------------
# Product logo on the navigation bar (61 x 61 label, scaled) and the tray / program icon.

tile 122 "$out/logo.png"

for s in 16 32 48 256; do
  tile "$s" "$work/ico_$s.png"
done
"${im[@]}" "$work/ico_16.png" "$work/ico_32.png" "$work/ico_48.png" "$work/ico_256.png" \
  "${png_opts[@]}" "ICO:$out/varnIcon.ico"

# ---------------------------------------------------------------------------------------------------
# Navigation bar (black): white icons at the navigation buttons' 22 px icon size.

# Printer management: a printer.
icon 22 icon \
  "add:fill none stroke $white stroke-width 1.6 roundrectangle 6.3,2.3 15.7,8 1,1" \
  "add:fill $white roundrectangle 1.5,7.5 20.5,16 2.4,2.4" \
  "cut:fill black roundrectangle 4.5,12.2 17.5,22 1,1" \
  "cut:fill black circle 17.2,10.2 17.2,9.3" \
  "add:fill none stroke $white stroke-width 1.6 roundrectangle 6.3,13.8 15.7,19.7 1,1"

# Add printer: a plus in a ring.
icon 22 icon_add \
  "add:fill none stroke $white stroke-width 1.6 circle 11,11 11,2.2" \
  "add:fill none stroke $white stroke-width 1.8 stroke-linecap round line 11,6.6 11,15.4 line 6.6,11 15.4,11"

# ---------------------------------------------------------------------------------------------------
# Light grey pages: minimise and close (18 x 18 flat buttons), the guide mark (20 x 20 label, scaled).

glyph 36 36 "$out/minB.png" "" \
  "add:fill none stroke $slate stroke-width 2.8 stroke-linecap round line 9.5,18 26.5,18"

glyph 36 36 "$out/closeB.png" "" \
  "add:fill none stroke $slate stroke-width 2.8 stroke-linecap round line 10.5,10.5 25.5,25.5
       line 25.5,10.5 10.5,25.5"

glyph 40 40 "$out/guid.png" "fill $blue circle 20,20 20,0.5" \
  "add:fill $white circle 20,11.8 20,9" \
  "add:fill $white roundrectangle 17.7,16.6 22.3,30.6 2.3,2.3"

# ---------------------------------------------------------------------------------------------------
# Printer card (white): refresh at 16 px, four round buttons at 39 px.

# Refresh: a circular arrow running clockwise, its head at twelve o'clock.
icon 16 refresh \
  "add:fill none stroke $teal stroke-width 1.7 circle 8,8.5 13.3,8.5" \
  "cut:fill black polygon 8,8.5 6.33,-3.38 15.05,-1.21 19.82,6.42" \
  "add:fill $teal circle 13.22,7.58 14.07,7.58" \
  "add:fill $teal stroke $teal stroke-width 0.5 stroke-linejoin round polygon 12,3.2 7.6,0.4 7.6,6"

# Print details: a sheet with lines.
disc_button detail "$teal" \
  "add:fill none stroke $white stroke-width 2.2 stroke-linejoin round
       roundrectangle 12.5,9.5 26.5,29.5 2.4,2.4" \
  "add:fill none stroke $white stroke-width 2.2 stroke-linecap round
       line 16.5,15 22.5,15 line 16.5,19.5 22.5,19.5 line 16.5,24 20,24"

# Print test: a printer with a sheet coming out.
disc_button test "$teal" \
  "add:fill none stroke $white stroke-width 2 roundrectangle 14.5,9.5 24.5,16 1.2,1.2" \
  "add:fill $white roundrectangle 9.5,15 29.5,25.5 2.6,2.6" \
  "cut:fill black roundrectangle 12,21 27,31.5 1.4,1.4" \
  "cut:fill black circle 25.6,18.4 25.6,17.2" \
  "add:fill none stroke $white stroke-width 2 roundrectangle 14.5,22.5 24.5,29.5 1.2,1.2" \
  "add:fill none stroke $white stroke-width 1.6 stroke-linecap round line 17,26 22,26"

# Modify printer: a pencil.
disc_button modify "$teal" \
  "add:fill $white push graphic-context translate 20.5,18.5 rotate 45
       roundrectangle -3,-12 3,-8.2 1.2,1.2 rectangle -3,-6.8 3,5 polygon -3,6 3,6 0,11.2
       pop graphic-context" \
  "add:fill none stroke $white stroke-width 1.8 stroke-linecap round line 21,29 28,29"

# Delete printer: a bin, in the destructive red.
disc_button delete "$red" \
  "add:fill none stroke $white stroke-width 2.1 stroke-linecap round
       line 11.5,13.2 27.5,13.2 line 16.6,13 16.6,10.2 line 16.6,10.2 22.4,10.2 line 22.4,10.2 22.4,13
       line 13.6,16.2 14.8,28.6 line 14.8,28.6 24.2,28.6 line 24.2,28.6 25.4,16.2
       line 17.7,18.8 17.9,25.6 line 21.3,18.8 21.1,25.6"

# ---------------------------------------------------------------------------------------------------
# Dialogs.

# Dialog close mark (20 x 20 and 16 x 16 border-images): a white cross on a teal disc, so it reads both on
# the teal title bar of the history dialog and on the light message box.
glyph 40 40 "$out/dlgexit.png" "fill $teal circle 20,20 20,0.5" \
  "add:fill none stroke $white stroke-width 3.2 stroke-linecap round line 13.5,13.5 26.5,26.5
       line 26.5,13.5 13.5,26.5"

# Message box background, 316 x 206, shown unscaled from its top left corner: a white card that fades to
# a light grey, with a teal band along the top. Nothing sits near the right or bottom edge, which the
# panel's margins may hide.
"${im[@]}" -size 316x206 "gradient:rgb(255,255,255)-rgb(236,240,244)" \
  -fill "$teal" -draw "rectangle 0,0 315,5" \
  '(' -size 316x206 xc:none -fill white -draw "roundrectangle 0,0 315,205 7,7" ')' \
  -compose DstIn -composite "${png_opts[@]}" "PNG32:$out/dlgbackground.png"

# Busy animation, 75 x 75 on white: twelve dots round a circle, the lead one blue and largest, the others
# smaller and fading behind it; one step every 80 ms, looping for ever.
frames=()
for k in $(seq 0 11); do
  mvg=""
  for i in $(seq 0 11); do
    alpha="$(awk -v i="$i" 'BEGIN { printf "%.3f", 1 - i / 12 }')"
    edge="$(awk -v i="$i" 'BEGIN { printf "%.2f", -23 + 5.2 - i * 0.17 }')"
    mvg+=" push graphic-context translate 37.5,37.5 rotate $(((k - i) * 30))
           fill rgba(0,138,255,$alpha) circle 0,-23 0,$edge pop graphic-context"
  done
  frame="$work/frame_$(printf %02d "$k").png"
  "${im[@]}" -size $((75 * ss))x$((75 * ss)) xc:white -draw "scale $ss,$ss $mvg" -filter Box -resize 75x75 \
    "$frame"
  frames+=("$frame")
done
"${im[@]}" -delay 8 -loop 0 "${frames[@]}" +dither -colors 64 -strip "GIF:$out/waitting_01.gif"

# ---------------------------------------------------------------------------------------------------
# Tray menu: the exit entry's mark at the menu's 16 px icon size, a power symbol in the destructive red.

icon 16 close \
  "add:fill none stroke $red stroke-width 1.6 circle 8,8.5 13.3,8.5" \
  "cut:fill black polygon 8,8.5 2,-1.89 8,-3.5 14,-1.89" \
  "add:fill $red circle 5.35,3.91 6.15,3.91 circle 10.65,3.91 11.45,3.91" \
  "add:fill none stroke $red stroke-width 1.6 stroke-linecap round line 8,1.6 8,7.6"

echo "make-images: wrote $(find "$out" -maxdepth 1 -type f | wc -l) files to $out"
