#!/usr/bin/env python3
"""Writes a reference-host scene of N objects to standard output: a square
grid of small spheres and boxes on a floor, filling the same view whatever N
is, so that renders of different sizes of scene cover the same pixels.

    bench/make_scene.py 100000 > scene.json
    /usr/bin/time -v build/linux/bin/refhost --scene scene.json ...
"""
import json
import math
import random
import sys

count = int(sys.argv[1])
side = max(1, math.ceil(math.sqrt(count)))
spacing = 20.0 / side
rng = random.Random(count)
objects = [{"name": "floor", "shape": "plane", "position": [0, 0, 0],
            "size": [24, 1, 24]}]
for i in range(count - 1):
    x = -10 + spacing * (i % side + 0.5)
    z = -10 + spacing * (i // side + 0.5)
    size = spacing * rng.uniform(0.2, 0.45)
    if i % 2:
        objects.append({"name": f"sphere_{i:07d}", "shape": "sphere",
                        "position": [x, size, z], "size": size})
    else:
        objects.append({"name": f"box_{i:07d}", "shape": "box",
                        "position": [x, size, z], "size": 2 * size})
scene = {"camera": {"position": [0, 12, 16], "look_at": [0, 0, 0], "fov": 50},
         "objects": objects}
json.dump(scene, sys.stdout, separators=(",", ":"))
