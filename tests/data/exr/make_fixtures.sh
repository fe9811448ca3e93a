#!/bin/sh
# Remakes the EXR fixtures: one 32x16 corner of the small scene's float
# image, stored in every compression the format knows, in tiles, and as the
# second part of a two-part file, each written by OpenImageIO (Debian's
# openimageio-tools), so that the readers are tried on a writer not their
# own. Run from this folder after a Linux build:
#   sh make_fixtures.sh ../small_scene.exr
set -eu
source=$1
oiio() { oiiotool --nosoftwareattrib "$@"; }
oiio "$source" --cut 32x16+40+24 --eraseattrib '.*' -o corner.exr
for c in none rle zips zip piz pxr24 b44 b44a dwaa dwab; do
  oiio corner.exr --compression "$c" -o "corner.$c.exr"
done
oiio corner.exr --compression zip --tile 16 8 -o corner.tiled.exr
oiio corner.exr -d half --compression piz -o corner.half.exr
# A depth layer before the ID image, each a part of its own.
oiio corner.exr --ch R --chnames Z --attrib oiio:subimagename depth \
  corner.exr --attrib oiio:subimagename id --siappend -o corner.parts.exr
rm corner.exr
