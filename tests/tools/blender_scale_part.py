# Imports a glTF file into an empty Blender scene, scales the vertices bound to one bone
# 1.5 times about that bone's joint in edit mode, as a modeller would, and exports the
# file again as binary glTF. Run as:
#   blender -b --factory-startup --python blender_scale_part.py -- IN.glb OUT.glb BONE
import sys

import numpy

# Debian's Blender 3.4 importer still uses numpy.bool, which numpy 1.24 no longer has.
numpy.bool = bool

import bmesh
import bpy

source, target, bone = sys.argv[sys.argv.index("--") + 1:][:3]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.context.scene.render.fps = 30
if bpy.ops.import_scene.gltf(filepath=source) != {"FINISHED"}:
    sys.exit(1)
armature = next(o for o in bpy.data.objects if o.type == "ARMATURE")
mesh = next(o for o in bpy.data.objects if o.type == "MESH")
group = mesh.vertex_groups[bone].index
joint = armature.matrix_world @ armature.data.bones[bone].head_local
centre = mesh.matrix_world.inverted() @ joint
bpy.context.view_layer.objects.active = mesh
bpy.ops.object.mode_set(mode="EDIT")
edit = bmesh.from_edit_mesh(mesh.data)
deform = edit.verts.layers.deform.active
scaled = 0
for vertex in edit.verts:
    if deform and vertex[deform].get(group, 0) > 0.5:
        vertex.co = centre + 1.5 * (vertex.co - centre)
        scaled += 1
bmesh.update_edit_mesh(mesh.data)
bpy.ops.object.mode_set(mode="OBJECT")
print("scaled\t%d" % scaled)
if bpy.ops.export_scene.gltf(filepath=target, export_format="GLB",
                             export_animations=True) != {"FINISHED"}:
    sys.exit(1)
