# Compares two animations by the turns they give every bone at every frame, whatever
# angles express them, using palkor-cli's own output:
#   compare_poses.py field CLI ARCHIVE1 MODEL ANIM1 ARCHIVE2 ANIM2 DEGREES [BONE:TURNED]
#   compare_poses.py battle CLI ARCHIVE1 CODE NUMBER1 ARCHIVE2 NUMBER2 DEGREES
# Battle offsets must agree within one unit. With BONE:TURNED, the field bone named BONE
# must be turned TURNED degrees away from the first at every frame, within DEGREES, and
# every other bone agree. Exit 0 when they do.
import math
import subprocess
import sys


def rotation(axis, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    if axis == "x":
        return [[1, 0, 0], [0, c, -s], [0, s, c]]
    if axis == "y":
        return [[c, 0, s], [0, 1, 0], [-s, 0, c]]
    return [[c, -s, 0], [s, c, 0], [0, 0, 1]]


def product(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def turn(x, y, z):
    # Y, then X, then Z applied last to first: R = Ry(y) Rx(x) Rz(z).
    return product(product(rotation("y", y), rotation("x", x)), rotation("z", z))


def apart(a, b):
    # The angle between two turns.
    trace = sum(sum(a[k][i] * b[k][i] for k in range(3)) for i in range(3))
    return math.degrees(math.acos(max(-1.0, min(1.0, (trace - 1) / 2))))


def cli(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def field_turns(tool, archive, model, anim):
    frames = int(cli(tool, "pose", archive, model, anim).split("\n")[0].split("\t")[1])
    turns = []
    for f in range(frames):
        lines = cli(tool, "pose", archive, model, anim, "--frame", str(f)).splitlines()[1:]
        turns.append({l.split("\t")[7]: turn(float(l.split("\t")[3]), -float(l.split("\t")[4]),
                                             -float(l.split("\t")[5])) for l in lines[1:]})
    return turns, None


def battle_turns(tool, archive, code, number):
    lines = cli(tool, "battle", archive, code, "--frames").splitlines()
    turns, offsets, current = [], [], None
    for line in lines:
        fields = line.split("\t")
        if fields[0] == "anim":
            current = int(fields[1]) + 1
        elif fields[0] == "frame" and current == int(number):
            values = [int(v) for v in fields[5].split()]
            offsets.append([int(v) for v in fields[2:5]])
            turns.append({i // 3: turn(*(v * 360 / 4096 for v in values[i:i + 3]))
                          for i in range(0, len(values), 3)})
    return turns, offsets


kind, tool, first, model, anim1, second, anim2, degrees = sys.argv[1:9]
turned_bone, turned = (sys.argv[9].split(":") + [""])[:2] if len(sys.argv) > 9 else (None, 0)
read = field_turns if kind == "field" else battle_turns
turns1, offsets1 = read(tool, first, model, anim1)
turns2, offsets2 = read(tool, second, model, anim2)
if len(turns1) != len(turns2):
    sys.exit("%d frames against %d" % (len(turns1), len(turns2)))
worst = 0
for f1, f2 in zip(turns1, turns2):
    for bone in f1:
        expected = float(turned) if bone == turned_bone else 0
        worst = max(worst, abs(apart(f1[bone], f2[bone]) - expected))
print("frames %d, turns off by at most %.5f degrees" % (len(turns1), worst))
if worst > float(degrees):
    sys.exit("turns off by more than %s degrees" % degrees)
if offsets1 is not None and any(abs(a - b) > 1 for o1, o2 in zip(offsets1, offsets2)
                                for a, b in zip(o1, o2)):
    sys.exit("offsets apart by more than a unit")
