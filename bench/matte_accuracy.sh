#!/usr/bin/env bash
# Measures how exactly ravelTint-matte recovers coverage, as the README's
# section on mattes gives it: the built-in scene and a dense scene of 2,000
# objects, rendered at 16 samples per pixel (--samples 4) with the truth as
# Cryptomatte, then unmixed from the float EXR, a half EXR (made with
# OpenImageIO's oiiotool) and the 8-bit PNG; and tallies apart the pixels
# that the image cannot tell from another mix of palette colours.
#   bench/matte_accuracy.sh [BUILD]     (default build/linux; work in a
#                                         temporary folder)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../build/linux}" && pwd)/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$here/make_scene.py" 2000 > dense_scene.json
for scene in builtin dense; do
  scene_option=()
  [ "$scene" = dense ] && scene_option=(--scene dense_scene.json)
  "$bin/refhost" "${scene_option[@]}" --samples 4 --out "$scene.png" \
    --manifest "$scene.json" --exr "$scene.exr" \
    --cryptomatte "$scene.truth.exr" >/dev/null 2>&1
  oiiotool "$scene.exr" -d half -o "$scene.half.exr"
  for input in "$scene.exr float" "$scene.half.exr half" "$scene.png png"; do
    set -- $input
    echo "== $scene: $1"
    "$bin/ravelTint-matte" "$1" --manifest "$scene.json" \
      --cryptomatte "$1.unmixed.exr" >/dev/null 2>&1
    "$bin/matte_accuracy" "$scene.truth.exr" "$1.unmixed.exr" "$2"
  done
done
