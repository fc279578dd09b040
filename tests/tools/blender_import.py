# Imports a glTF file into an empty Blender scene and prints what came in, one
# "key<TAB>value" line each: armatures, bones (of the first armature), actions (their
# names, sorted), meshes, images; the mesh's height at rest in metres, and the number
# of bones whose faces point inwards (towards the centre of that bone's faces, on average
# over their area: the inside of a closed part). Run as:
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
    mesh = meshes[0].data
    heights = [(meshes[0].matrix_world @ v.co).z for v in mesh.vertices]
    print("height\t%.2f" % (max(heights) - min(heights)))
    # Each vertex is bound to one bone; a polygon belongs to its first vertex's bone.
    faces = {}
    for polygon in mesh.polygons:
        group = mesh.vertices[polygon.vertices[0]].groups[0].group
        faces.setdefault(group, []).append(polygon)
    inward = 0
    for polygons in faces.values():
        area = sum(p.area for p in polygons)
        centre = sum((p.center * p.area for p in polygons), polygons[0].center * 0) / area
        if sum(p.normal.dot(p.center - centre) * p.area for p in polygons) <= 0:
            inward += 1
    print("inward\t%d" % inward)
print("images\t%d" % len([i for i in bpy.data.images if i.size[0] > 0]))
sys.stdout.flush()
