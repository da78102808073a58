#!/usr/bin/env bash
# Draws the launcher's two class icons with ImageMagick: group 107 (large,
# 48 and 32 pixels) and group 108 (small, 16 pixels). A rounded gold tile
# with a dark play triangle. Run it again after changing the drawing; the
# .ico files it writes are committed.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
draw() {  # size output
  local s=$1 r=$(( $1 / 6 )) m=$(( $1 / 16 ))
  local e=$(( s - 1 - m ))
  convert -size "${s}x${s}" xc:none \
    -fill '#F0B020' -stroke '#6A3C00' -strokewidth $(( s >= 32 ? 2 : 1 )) \
    -draw "roundrectangle $m,$m $e,$e $r,$r" \
    -fill '#3A1E00' -stroke none \
    -draw "polygon $(( s * 36 / 100 )),$(( s * 28 / 100 )) $(( s * 36 / 100 )),$(( s * 72 / 100 )) $(( s * 74 / 100 )),$(( s / 2 ))" \
    "PNG32:$2"
}
draw 48 "$tmp/48.png"
draw 32 "$tmp/32.png"
draw 16 "$tmp/16.png"
convert "$tmp/48.png" "$tmp/32.png" launcher_large.ico
convert "$tmp/16.png" launcher_small.ico
