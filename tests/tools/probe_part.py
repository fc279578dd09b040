# Compares two BMP pictures of one model drawn the same way, the second with its top part
# (the head) scaled: the top part's widest row must be RATIO times as wide (within 15 %),
# and every pixel below the top part must be as it was. Run as:
#   python3 probe_part.py BEFORE.bmp AFTER.bmp RATIO
import struct
import sys


def read_bmp(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    step = bits // 8
    row = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source = y if height < 0 else abs(height) - 1 - y
        start = offset + source * row
        rows.append([data[start + x * step:start + x * step + 3] for x in range(width)])
    return rows


def filled(rows):
    background = rows[0][0]
    return [[x for x, pixel in enumerate(line) if pixel != background] for line in rows]


before, after, ratio = read_bmp(sys.argv[1]), read_bmp(sys.argv[2]), float(sys.argv[3])
a, b = filled(before), filled(after)
top_a = next(y for y, xs in enumerate(a) if xs)
bottom_a = max(y for y, xs in enumerate(a) if xs)
top_b = next(y for y, xs in enumerate(b) if xs)
height = bottom_a - top_a
# The head: the top sixth of the figure before; as far down after, scaled.
band = height // 6
width_a = max(max(xs) - min(xs) + 1 for xs in a[top_a:top_a + band] if xs)
width_b = max(max(xs) - min(xs) + 1 for xs in b[top_b:top_b + int(band * ratio)] if xs)
print("head\t%d\t%d\t%.2f" % (width_a, width_b, width_b / width_a))
changed_below = [y for y in range(top_a + int(band * 1.6), len(before)) if before[y] != after[y]]
print("changed-below-head\t%d" % len(changed_below))
if abs(width_b / width_a - ratio) > 0.15 * ratio or changed_below:
    sys.exit(1)
