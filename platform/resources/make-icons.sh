#!/usr/bin/env bash
# Draws the application icon "MAINICON" with 16 colours and writes it in the
# forms the builds use:
#   MainIcon16.png, MainIcon32.png  the drawings themselves
#   MainIcon.ico                    both images, for the Windows resource file
#   MainIcon16.xpm, MainIcon32.xpm  C arrays the Qt window loads
#   MainIcon48.png ... MainIcon256.png, MainIcon.svg
#                                   the installed icons (hicolor theme)
# The outputs are committed; run this (ImageMagick) only to change the icon.
set -euo pipefail
cd "$(dirname "$0")"

draw() {  # size, output
  local s=$1 k
  k=$(awk "BEGIN{print $s/32}")
  local key=()
  # Five white keys with three black keys, a wave above them.
  for i in 0 1 2 3 4; do
    key+=(-fill white -draw "rectangle $(awk "BEGIN{print int((3+$i*5.3)*$k)}"),$(awk "BEGIN{print int(15*$k)}") $(awk "BEGIN{print int((3+$i*5.3+4.3)*$k)}"),$(awk "BEGIN{print int(28*$k)}")")
  done
  for i in 0 1 3; do
    key+=(-fill black -draw "rectangle $(awk "BEGIN{print int((6.3+$i*5.3)*$k)}"),$(awk "BEGIN{print int(15*$k)}") $(awk "BEGIN{print int((6.3+$i*5.3+2.6)*$k)}"),$(awk "BEGIN{print int(22*$k)}")")
  done
  convert -size "${s}x${s}" xc:none \
    -fill '#1f3f7f' -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) $((s / 6)),$((s / 6))" \
    "${key[@]}" \
    -stroke '#ffd700' -strokewidth "$(awk "BEGIN{print ($s<=16)?1:($s<48)?2:int($s/24)}")" -fill none \
    -draw "bezier $(awk "BEGIN{print int(3*$k)}"),$(awk "BEGIN{print int(8*$k)}") $(awk "BEGIN{print int(9*$k)}"),0 $(awk "BEGIN{print int(13*$k)}"),$(awk "BEGIN{print int(16*$k)}") $(awk "BEGIN{print int(16*$k)}"),$(awk "BEGIN{print int(8*$k)}")" \
    -draw "bezier $(awk "BEGIN{print int(16*$k)}"),$(awk "BEGIN{print int(8*$k)}") $(awk "BEGIN{print int(19*$k)}"),0 $(awk "BEGIN{print int(23*$k)}"),$(awk "BEGIN{print int(16*$k)}") $(awk "BEGIN{print int(29*$k)}"),$(awk "BEGIN{print int(8*$k)}")" \
    -channel A -threshold 50% +channel \
    +dither -colors 16 -type PaletteAlpha -define png:exclude-chunks=date,time "PNG8:$2"
}

for s in 16 32 48 64 128 256; do draw "$s" "MainIcon$s.png"; done
convert MainIcon16.png MainIcon32.png -colors 16 MainIcon.ico
for s in 16 32; do
  convert "MainIcon$s.png" "xpm:-" |
    sed -e "s/^static .*\[\] = {/static const char* const MainIcon$s[] = {/" > "MainIcon$s.xpm"
done

# The same drawing as a scalable icon, in the 32-unit grid the sizes above scale.
{
  echo '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">'
  echo '  <rect width="32" height="32" rx="5.33" fill="#1f3f7f"/>'
  for i in 0 1 2 3 4; do
    awk "BEGIN{printf \"  <rect x=\\\"%g\\\" y=\\\"15\\\" width=\\\"4.3\\\" height=\\\"13\\\" fill=\\\"#fff\\\"/>\\n\", 3+$i*5.3}"
  done
  for i in 0 1 3; do
    awk "BEGIN{printf \"  <rect x=\\\"%g\\\" y=\\\"15\\\" width=\\\"2.6\\\" height=\\\"7\\\" fill=\\\"#000\\\"/>\\n\", 6.3+$i*5.3}"
  done
  echo '  <path d="M3 8C9 0 13 16 16 8C19 0 23 16 29 8" fill="none" stroke="#ffd700" stroke-width="2"/>'
  echo '</svg>'
} >MainIcon.svg
