#!/usr/bin/env bash
# Makes the matte tool's fixtures from a real renderer: the scene in
# scene.json, coloured with the reference host's ravelTint colours, rendered
# by Debian's Blender (Cycles, on the CPU) at 16, 64 and 256 samples with the
# Blackman-Harris filter and at 16 and 256 with a box filter. Each render
# gives NAME.exr (float, multi-layer, with Blender's own Cryptomatte as the
# truth), NAME.half.exr and NAME.png. The outputs are committed, so the tests
# need no Blender; run this only to make them again.
#   tests/data/blender/make_fixtures.sh [BUILD]    (default build/linux)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../../build/linux}" && pwd)/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The colours, as the reference host's manifest gives them; the image it
# describes is not Blender's, so its part goes.
"$bin/refhost" --scene "$here/scene.json" --out "$work/scene.png" \
  --manifest "$work/scene.json" >/dev/null
python3 - "$work/scene.json" "$here/palette.json" <<'PY'
import json, sys
manifest = json.load(open(sys.argv[1]))
del manifest["image"]
with open(sys.argv[2], "w") as f:
    json.dump(manifest, f, indent=1)
    f.write("\n")
PY
for render in bh16:16:BLACKMAN_HARRIS bh64:64:BLACKMAN_HARRIS \
              bh256:256:BLACKMAN_HARRIS box16:16:BOX box256:256:BOX; do
  IFS=: read -r name samples filter <<<"$render"
  blender -b --factory-startup --python "$here/render.py" -- \
    "$here/scene.json" "$here/palette.json" "$here/$name" "$samples" \
    "$filter" >/dev/null
done
