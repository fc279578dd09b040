# Turns one bone of an exported knight's walk by 60 degrees more at every frame in
# Blender, as an animator would, and exports the file again. Run as:
#   blender -b --factory-startup --python blender_turn_bone.py -- IN.glb OUT.glb BONE
import math
import sys

import numpy

# Debian's Blender 3.4 importer still uses numpy.bool, which numpy 1.24 no longer has.
numpy.bool = bool

import bpy
import mathutils

source, target, bone = sys.argv[sys.argv.index("--") + 1:][:3]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.context.scene.render.fps = 30
if bpy.ops.import_scene.gltf(filepath=source) != {"FINISHED"}:
    sys.exit(1)
armature = [o for o in bpy.data.objects if o.type == "ARMATURE"][0]
action = [a for a in bpy.data.actions if a.name.startswith("KNWA.A")][0]
armature.animation_data.action = action
pose = armature.pose.bones[bone]
start, end = [int(v) for v in action.frame_range]
extra = mathutils.Quaternion((0, 0, 1), math.radians(60))
for frame in range(start, end + 1):
    bpy.context.scene.frame_set(frame)
    pose.rotation_quaternion = pose.rotation_quaternion @ extra
    pose.keyframe_insert("rotation_quaternion", frame=frame)
if bpy.ops.export_scene.gltf(filepath=target, export_format="GLB",
                             export_animations=True) != {"FINISHED"}:
    sys.exit(1)
