#!/usr/bin/env bash
# Measures how exactly ravelTint-matte recovers coverage, as docs/mattes.md
# gives it, one line an image: the mean absolute coverage error over edge
# pixels, the share of them off by more than 0.05, the worst error where at
# most four objects meet, and the share of all pixels that the tool says
# their neighbours decided.
#  - the built-in scene and a dense scene of 2,000 objects at 640x400 and 16
#    samples per pixel: float EXR, half EXR (made with OpenImageIO's
#    oiiotool) and 8-bit PNG;
#  - scenes of 100, 400 and 2,000 objects at 200x120, 16 and 64 samples:
#    float EXR;
#  - Blender's renders of tests/data/blender at 16, 64 and 256 samples,
#    Blackman-Harris and box: float, half and PNG, against Blender's own
#    Cryptomatte.
#   bench/matte_accuracy.sh [BUILD]     (default build/linux; work in a
#                                         temporary folder)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../build/linux}" && pwd)/bin
fixtures=$here/../tests/data/blender
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# measure NAME IMAGE ENCODING TRUTH [MATTE OPTIONS...]
measure() {
  local name=$1 image=$2 encoding=$3 truth=$4
  shift 4
  "$bin/ravelTint-matte" "$image" --cryptomatte unmixed.exr "$@" >report.txt \
    2>/dev/null
  local line neighbours pixels
  line=$("$bin/matte_accuracy" "$truth" unmixed.exr "$encoding" | sed -n 2p)
  pixels=$(grep -o '^  [0-9]* pixels:' report.txt | grep -o '[0-9]*')
  neighbours=$(grep -o '[0-9]* decided by neighbours' report.txt |
    grep -o '^[0-9]*')
  printf '%-28s %s; decided by neighbours: %s of %s pixels\n' "$name" \
    "$(sed -E 's/^unmixed: +//' <<<"$line")" "$neighbours" "$pixels"
}

python3 "$here/make_scene.py" 2000 >dense_scene.json
for scene in builtin dense; do
  scene_option=()
  [ "$scene" = dense ] && scene_option=(--scene dense_scene.json)
  "$bin/refhost" "${scene_option[@]}" --samples 4 --out "$scene.png" \
    --manifest "$scene.json" --exr "$scene.exr" \
    --cryptomatte "$scene.truth.exr" >/dev/null 2>&1
  oiiotool "$scene.exr" -d half -o "$scene.half.exr"
  for input in "$scene.exr float" "$scene.half.exr half" "$scene.png png"; do
    set -- $input
    measure "$1" "$1" "$2" "$scene.truth.exr" --manifest "$scene.json"
  done
done

for objects in 100 400 2000; do
  python3 "$here/make_scene.py" "$objects" >small_$objects.json
  for samples in 4 8; do
    name=s${objects}_$((samples * samples))
    "$bin/refhost" --scene small_$objects.json --size 200x120 \
      --samples $samples --out $name.png --manifest $name.json \
      --exr $name.exr --cryptomatte $name.truth.exr >/dev/null 2>&1
    measure "$name.exr (200x120)" $name.exr float $name.truth.exr
  done
done

for render in bh16 box16 bh64 bh256 box256; do
  for input in "$render.exr float" "$render.half.exr half" \
               "$render.png png"; do
    set -- $input
    measure "blender/$1" "$fixtures/$1" "$2" "$fixtures/$render.exr" \
      --manifest "$fixtures/palette.json"
  done
done
