# Imports a glTF file into an empty Blender scene and prints what came in, one
# "key<TAB>value" line each: armatures, bones (of the first armature), actions (their
# names, sorted), meshes, images. Run as:
#   blender -b --factory-startup --python blender_import.py -- FILE
import sys

import numpy

# Debian's Blender 3.4 importer still uses numpy.bool, which numpy 1.24 no longer has.
numpy.bool = bool

import bpy

path = sys.argv[sys.argv.index("--") + 1]
bpy.ops.wm.read_factory_settings(use_empty=True)
result = bpy.ops.import_scene.gltf(filepath=path)
if result != {"FINISHED"}:
    print("import\tfailed")
    sys.exit(1)

armatures = [o for o in bpy.data.objects if o.type == "ARMATURE"]
meshes = [o for o in bpy.data.objects if o.type == "MESH"]
print("import\tok")
print("armatures\t%d" % len(armatures))
if armatures:
    print("bones\t%d" % len(armatures[0].data.bones))
    print("bonenames\t%s" % ",".join(sorted(b.name for b in armatures[0].data.bones)))
print("actions\t%s" % ",".join(sorted(a.name for a in bpy.data.actions)))
print("meshes\t%d" % len(meshes))
if meshes:
    print("vertexgroups\t%d" % len(meshes[0].vertex_groups))
    print("polygons\t%d" % sum(len(m.data.polygons) for m in meshes))
print("images\t%d" % len([i for i in bpy.data.images if i.size[0] > 0]))
sys.stdout.flush()
