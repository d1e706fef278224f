#!/usr/bin/env bash
# Makes the sample pictures in samples/ (one or more per catalogued format, in a
# small folder tree). Raster formats come from ImageMagick's convert; the two
# metafiles from make-metafiles.py. Run from anywhere; rewrites samples/.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=samples
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

rm -rf "$out"
mkdir -p "$out/Landscapes/Winter" "$out/Drawings" "$out/Retro/Pages"


# scene W H SEED SKY_TOP SKY_BOTTOM SUN HILL_FAR HILL_NEAR TEXTURE(0/1) LABEL OUT
# A sky gradient, a sun and two hill ranges; TEXTURE lays a cloudy plasma over
# it (photo-like, but it defeats run-length coding, so RLE formats go without).
scene() {
  local w=$1 h=$2 seed=$3 top=$4 bottom=$5 sun=$6 far=$7 near=$8 texture=$9 label=${10} dest=${11}
  local sx=$((w * 3 / 4)) sy=$((h * 4 / 15)) sr=$((h / 11))
  local -a hills=(
    -fill "$sun" -draw "circle $sx,$sy $sx,$((sy + sr))"
    -fill "$far" -draw "polygon 0,$((h * 19 / 30)) $((w * 7 / 40)),$((h / 2)) $((w * 7 / 20)),$((h * 7 / 12)) $((w * 23 / 40)),$((h * 2 / 5)) $((w * 33 / 40)),$((h * 17 / 30)) $w,$((h * 7 / 15)) $w,$h 0,$h"
    -fill "$near" -draw "polygon 0,$((h * 4 / 5)) $((w * 9 / 40)),$((h * 41 / 60)) $((w / 2)),$((h * 47 / 60)) $((w * 3 / 4)),$((h * 2 / 3)) $w,$((h * 23 / 30)) $w,$h 0,$h"
  )
  local -a caption=()
  if [ -f "$font" ] && [ -n "$label" ]; then
    caption=(-font "$font" -pointsize $((h / 16)) -fill white -gravity southwest -annotate +10+8 "$label")
  fi
  if [ "$texture" = 1 ]; then
    convert -size "${w}x${h}" "gradient:$top-$bottom" "${hills[@]}" \
      \( -size "${w}x${h}" -seed "$seed" plasma:grey50-grey50 -colorspace gray \) \
      -compose overlay -composite "${caption[@]}" -depth 8 "$dest"
  else
    convert -size "${w}x${h}" "xc:$top" "${hills[@]}" "${caption[@]}" -depth 8 "$dest"
  fi
}

# Photos: JPEG, PNG, TIFF.
scene 640 480 3 '#3a6ea5' '#f6d7a7' '#ffe89a' '#4d6b3c' '#2f4f25' 1 "Evening hills (JPEG)" "$out/Landscapes/Evening hills.jpg"
scene 480 640 11 '#1d3557' '#e9c46a' '#fff3b0' '#6b705c' '#3a3a2e' 1 "Tall (JPEG)" "$out/Landscapes/Portrait.JPEG"
scene 480 360 5 '#87bfff' '#ffffff' '#ffffff' '#a8c5e0' '#e8f0f8' 1 "Snow (TIFF)" "$tmp/snow.png"
convert "$tmp/snow.png" -compress JPEG -quality 90 "TIFF:$out/Landscapes/Winter/snow.tif"
scene 400 300 9 '#0b1d3a' '#3d5a80' '#f1faee' '#98c1d9' '#e0fbfc' 1 "Moonlight (TIFF)" "$tmp/moon.png"
convert "$tmp/moon.png" -compress RLE "TIFF:$out/Landscapes/Winter/Moonlight.tiff"
scene 400 300 21 '#ff7e5f' '#feb47b' '#fff1c1' '#6a4c93' '#2d1e4a' 1 "Dusk (PNG)" "$out/Landscapes/dusk.png"

# Drawings: icon, metafiles, a palette PNG.
scene 256 256 1 '#2a9d8f' '#2a9d8f' '#f4a261' '#264653' '#e76f51' 0 "" "$tmp/icon.png"
convert "$tmp/icon.png" -define icon:auto-resize=64,32,16 "ICO:$out/Drawings/imbrel.ico"
python3 tools/samples/make-metafiles.py "$out/Drawings/shapes.wmf" "$out/Drawings/shapes.emf"
scene 320 240 2 '#e63946' '#e63946' '#f1faee' '#a8dadc' '#1d3557' 0 "Flat (PNG)" "$tmp/flat.png"
convert "$tmp/flat.png" -colors 16 -type Palette "PNG8:$out/Drawings/flat-colours.png"

# Retro: BMP, PCX/PCC/DCX and the three Targa extensions, flat colours (run-length friendly).
scene 320 240 4 '#457b9d' '#457b9d' '#ffd166' '#06d6a0' '#118ab2' 0 "BMP" "$tmp/bmp.png"
convert "$tmp/bmp.png" -type TrueColor "BMP3:$out/Retro/classic.bmp"
scene 320 240 6 '#8d99ae' '#8d99ae' '#ef233c' '#2b2d42' '#edf2f4' 0 "PCX" "$tmp/pcx.png"
convert "$tmp/pcx.png" -type TrueColor "PCX:$out/Retro/paintbrush.pcx"
scene 320 240 8 '#fcbf49' '#fcbf49' '#d62828' '#003049' '#f77f00' 0 "PCC" "$tmp/pcc.png"
convert "$tmp/pcc.png" -colors 64 -type Palette "PCX:$out/Retro/clip.pcc"
scene 320 240 10 '#b5e48c' '#b5e48c' '#ffffff' '#52b69a' '#1a759f' 0 "DCX page 1" "$tmp/p1.png"
scene 320 240 12 '#ffafcc' '#ffafcc' '#ffffff' '#cdb4db' '#a2d2ff' 0 "DCX page 2" "$tmp/p2.png"
convert "$tmp/p1.png" "$tmp/p2.png" -colors 32 -type Palette "DCX:$out/Retro/Pages/fax pages.dcx"
# ImageMagick writes Targa rows top first but marks the file as stored bottom
# first, so every reader that follows the header shows its pictures upside down;
# flipping before writing gives files that are upright by their header.
scene 320 240 14 '#264653' '#264653' '#e9c46a' '#2a9d8f' '#f4a261' 0 "TGA" "$tmp/tga.png"
convert "$tmp/tga.png" -flip -compress RLE "TGA:$out/Retro/screen.tga"
scene 320 240 16 '#540b0e' '#540b0e' '#fff3b0' '#9e2a2b' '#e09f3e' 0 "VST" "$tmp/vst.png"
convert "$tmp/vst.png" -flip -type TrueColor -compress None "TGA:$out/Retro/Pages/vista.VST"
scene 240 180 18 '#006d77' '#006d77' '#ffddd2' '#83c5be' '#edf6f9' 0 "AFI" "$tmp/afi.png"
convert "$tmp/afi.png" -flip -colors 200 -type Palette -compress None "TGA:$out/Retro/Pages/frame.afi"

du -sh "$out"
find "$out" -type f | sort
