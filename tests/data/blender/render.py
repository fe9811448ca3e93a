# Renders a reference-host scene in Blender's Cycles, each object a pure
# emission of its ravelTint colour, so that the matte tool meets a real
# renderer's image: float sums with their rounding, a pixel filter, and
# Blender's own Cryptomatte pass as the truth. Run by make_fixtures.sh:
#   blender -b --factory-startup --python render.py -- SCENE MANIFEST OUT \
#           SAMPLES FILTER
# writes OUT.exr (a multi-layer float EXR: ViewLayer.Combined and the
# Cryptomatte layers), OUT.half.exr (RGBA half) and OUT.png (8-bit sRGB).
import json
import math
import sys

import bpy
from mathutils import Vector

scene_path, manifest_path, out, samples, pixel_filter = sys.argv[
    sys.argv.index("--") + 1:]
with open(scene_path) as f:
    description = json.load(f)
with open(manifest_path) as f:
    colours = {o["index"]: o["colour"] for o in json.load(f)["objects"]}


def blender_point(p):
    """The reference host's y-up point in Blender's z-up world."""
    return Vector((p[0], -p[2], p[1]))


def emission(name, colour):
    material = bpy.data.materials.new(name)
    material.use_nodes = True
    nodes = material.node_tree.nodes
    nodes.clear()
    light = nodes.new("ShaderNodeEmission")
    light.inputs["Color"].default_value = (*colour, 1.0)
    light.inputs["Strength"].default_value = 1.0
    output = nodes.new("ShaderNodeOutputMaterial")
    material.node_tree.links.new(light.outputs[0], output.inputs["Surface"])
    return material


bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene
for index, o in enumerate(description["objects"]):
    size = o.get("size", 1)
    if o["shape"] == "sphere":
        bpy.ops.mesh.primitive_uv_sphere_add(segments=48, ring_count=24,
                                             radius=size)
    elif o["shape"] == "box":
        bpy.ops.mesh.primitive_cube_add(size=1)
        edges = size if isinstance(size, list) else [size] * 3
        bpy.context.object.scale = (edges[0], edges[2], edges[1])
    else:
        bpy.ops.mesh.primitive_plane_add(size=1)
        bpy.context.object.scale = (size[0], size[2], 1)
    obj = bpy.context.object
    obj.name = o["name"]
    obj.location = blender_point(o["position"])
    obj.data.materials.append(emission(o["name"], colours[index]))

camera = description["camera"]
bpy.ops.object.camera_add(location=blender_point(camera["position"]))
cam = bpy.context.object
direction = blender_point(camera["look_at"]) - cam.location
cam.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()
cam.data.sensor_fit = "VERTICAL"
cam.data.angle = math.radians(camera["fov"])
scene.camera = cam

render = scene.render
render.engine = "CYCLES"
render.resolution_x = description["image"]["width"]
render.resolution_y = description["image"]["height"]
render.resolution_percentage = 100
render.film_transparent = True
render.dither_intensity = 0
cycles = scene.cycles
cycles.device = "CPU"
cycles.samples = int(samples)
cycles.use_adaptive_sampling = False
cycles.use_denoising = False
cycles.seed = 0
cycles.max_bounces = 0
cycles.pixel_filter_type = pixel_filter
cycles.filter_width = 1.0 if pixel_filter == "BOX" else 1.5
scene.view_settings.view_transform = "Standard"
scene.view_settings.look = "None"
scene.view_settings.exposure = 0
scene.view_settings.gamma = 1
layer = scene.view_layers[0]
layer.use_pass_cryptomatte_object = True
layer.pass_cryptomatte_depth = 6

settings = render.image_settings
settings.file_format = "OPEN_EXR_MULTILAYER"
settings.color_depth = "32"
settings.exr_codec = "ZIP"
render.filepath = out + ".exr"
bpy.ops.render.render(write_still=True)

result = bpy.data.images["Render Result"]
settings.file_format = "OPEN_EXR"
settings.color_mode = "RGBA"
settings.color_depth = "16"
settings.exr_codec = "ZIP"
result.save_render(out + ".half.exr", scene=scene)
settings.file_format = "PNG"
settings.color_mode = "RGBA"
settings.color_depth = "8"
settings.compression = 100
result.save_render(out + ".png", scene=scene)
