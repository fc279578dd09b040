# Imports a glTF file into an empty Blender scene at 30 frames per second and exports it
# again as binary glTF, animations included, as an animator's round trip would. Run as:
#   blender -b --factory-startup --python blender_reexport.py -- IN.glb OUT.glb
import sys

import numpy

# Debian's Blender 3.4 importer still uses numpy.bool, which numpy 1.24 no longer has.
numpy.bool = bool

import bpy

source, target = sys.argv[sys.argv.index("--") + 1:][:2]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.context.scene.render.fps = 30
if bpy.ops.import_scene.gltf(filepath=source) != {"FINISHED"}:
    sys.exit(1)
if bpy.ops.export_scene.gltf(filepath=target, export_format="GLB",
                             export_animations=True) != {"FINISHED"}:
    sys.exit(1)
