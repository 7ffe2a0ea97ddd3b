#!/usr/bin/env bash
# Pictures of the effect: one sample frame through every preset, through
# clamp, wrap and reflect at the same angles, and with a partial rectangle,
# each made by `vexolumen config set ...` and `vexolumen render`, then laid
# out with labels in one picture.
#
#   gallery.sh VEXOLUMEN OUT_DIR
#
# Writes OUT_DIR/NAME.png for every picture and OUT_DIR/gallery.png.
set -euo pipefail
vexolumen=$(realpath "$1") out=$2
mkdir -p "$out"
out=$(realpath "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C

# Colour bars and moving shapes over a smooth sweep of colours, where the
# methods differ most.
sample=$out/sample.png
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=256x96:rate=25" \
  -f lavfi -i "color=size=256x48,format=rgb24,geq=r='255*X/W':g='255*Y/H':b='255-255*X/W'" \
  -filter_complex "[0:v]select=eq(n\,30),format=rgb24[a];[a][1:v]vstack,format=rgb24" -frames:v 1 -update 1 "$sample"

# name|options of config set ("" for the sample itself)
pictures=(
  "original|"
  "tint|--preset tint"
  "swap|--preset swap"
  "half-negative|--preset half-negative"
  "neon|--preset neon"
  "pastel|--preset pastel"
  "spotlight|--preset spotlight"
  "rectangle|--preset neon --rect 0.1,0.6,0.2,0.9"
  "original |"
  "clamp|--angles 60,40,-50 --offset '#808080' --method clamp"
  "wrap|--angles 60,40,-50 --offset '#808080' --method wrap"
  "reflect|--angles 60,40,-50 --offset '#808080' --method reflect"
)
font=$(fc-match -f '%{file}' 'DejaVu Sans:bold' 2>/dev/null || true)
inputs=() layout=() i=0
for entry in "${pictures[@]}"; do
  name=${entry%%|*} options=${entry#*|}
  file=$out/${name// /}.png
  if [ -n "$options" ]; then
    # Each picture starts from nothing saved.
    rm -rf "$work/config" && mkdir "$work/config"
    eval "\"$vexolumen\" config set $options --config-dir \"$work/config\"" >/dev/null
    "$vexolumen" render "$sample" "$file" -y --config-dir "$work/config"
  else
    file=$sample
  fi
  # A label strip under each picture.
  label="pad=iw:ih+22:0:0:white"
  [ -n "$font" ] && label="$label,drawtext=fontfile=$font:text='${name% }':x=6:y=h-6-ascent:fontsize=14:fontcolor=black"
  inputs+=(-i "$file")
  layout+=("[$i:v]$label[t$i]")
  i=$((i + 1))
done
stack=""
for ((k = 0; k < i; k++)); do stack+="[t$k]"; done
cells="0_0|w0_0|w0+w1_0|w0+w1+w2_0|0_h0|w0_h0|w0+w1_h0|w0+w1+w2_h0|0_h0+h4|w0_h0+h4|w0+w1_h0+h4|w0+w1+w2_h0+h4"
filter="$(IFS=';'; echo "${layout[*]}");${stack}xstack=inputs=$i:layout=$cells:fill=white,format=rgb24"
ffmpeg -nostdin -v error -y "${inputs[@]}" -filter_complex "$filter" -frames:v 1 -update 1 "$out/gallery.png"
echo "$out/gallery.png"
