#!/usr/bin/python3
"""Writes the stored data of scenes 5 to 8: fragment_tables.cpp and
terrain_tables.cpp beside this directory.

    /usr/bin/python3 physics_scene/tools/make_scene_tables.py          # write
    /usr/bin/python3 physics_scene/tools/make_scene_tables.py --check  # compare

Standard library only, and deterministic: every random number comes from
the Park-Miller minimal standard generator with a fixed seed, so the same
files come out on every machine. --check exits 1 when the committed files
differ from what this program makes.

Fragments (scene 8): the cube [-1, 1]^3 cut into 90 convex cells, the
Voronoi cells of 90 seed points. Four fragments have fixed figures
(FIXED_FRAGMENTS: point count, mass, position; fragment 0 holds the corner
(-1, -1, -1) as its first point); their seeds sit at their positions. The
other seeds start at random and get a few rounds of Lloyd relaxation (each
moved to the centroid of its cell), which evens out the cell sizes; their
fragments are stored in order of their centroids. Each cell is stored as its
corner points relative to its position, padded where the fixed point counts
need more with points inside the cell (the hull stays the same). Masses
grow with volume from LIGHTEST to HEAVIEST and add up to 8.0, the cube's
volume. The fixed figures (POINT_TOTAL and the others below) are checked on
every run; --check fails when one is missed.

Terrain (scenes 5 to 7): eight height grids with spacing 250/64 that tile
x, z in [-250, 250] and share their border rows. Heights come from one
smooth field over the whole square, so shared rows agree, plus for each
part one hill and one hollow inside the part (clear of its borders) whose
tops reach exactly the part's height range. Two triangles per grid cell;
triangles are listed strip by strip (each strip a row of cells along x,
each cell as (a, b, c), (d, c, b)) and the vertices are numbered in order of
first use, so the index list starts 0, 1, 2, 3, 2, 1, 2, 3, 4, 5, 4, 3.
"""

import math
import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.dirname(HERE)

# ---------------------------------------------------------------- numbers


class Minstd:
    """Park-Miller minimal standard generator (multiplier 48271)."""

    MODULUS = 2147483647

    def __init__(self, seed):
        self.state = seed

    def next_unit(self):
        self.state = (self.state * 48271) % self.MODULUS
        return self.state / self.MODULUS


def f32(value):
    """value rounded to the nearest single-precision float."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def c_float(value):
    """Shortest decimal text that reads back as the same float32."""
    value = f32(value)
    if value == 0.0:
        return "0.0f"
    for digits in range(6, 10):
        text = "%.*g" % (digits, value)
        if f32(float(text)) == value:
            break
    if "e" not in text and "." not in text:
        text += ".0"
    return text + "f"


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def scale(a, s):
    return (a[0] * s, a[1] * s, a[2] * s)


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


# ---------------------------------------------------------------- fragments

FRAGMENT_COUNT = 90
# The first seed, with three rounds of relaxation, whose cells fit the fixed
# figures found by trying seeds from 1 up: the fixed fragments' cells have no
# more corners than their point counts, one cell has 8 corners and none more
# than 36. Another seed may not fit; the generator then stops and says why.
FRAGMENT_SEED = 47
LLOYD_ROUNDS = 3
EPSILON = 1e-9

# Fixed figures of the stored fragments.
POINT_TOTAL = 1790
FEWEST_POINTS = 8
MOST_POINTS = 36
LIGHTEST = 0.036032
HEAVIEST = 0.150904
TOTAL_MASS = 8.0
POSITION_LIMIT = 0.92
CORNER = (-1.0, -1.0, -1.0)
FIRST_POINT = (-0.198839, -0.174095, -0.496414)  # CORNER relative to fragment 0
# The entries whose values are fixed: index: (points, mass, position). The
# fragment at index 0 holds the cube's corner CORNER as its first point.
FIXED_FRAGMENTS = {
    0: (14, 0.105869, (-0.801161, -0.825905, -0.503586)),
    1: (16, 0.123003, (-0.669502, -0.555335, -0.800913)),
    2: (22, 0.069699, (-0.226726, -0.554920, -0.490680)),
    89: (16, 0.098811, (0.713605, 0.673779, 0.814484)),
}


def cube_faces():
    """The faces of [-1, 1]^3, each counter-clockwise seen from outside."""
    faces = []
    for axis in range(3):
        for sign in (-1.0, 1.0):
            u, v = (axis + 1) % 3, (axis + 2) % 3
            corners = []
            for a, b in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
                p = [0.0, 0.0, 0.0]
                p[axis], p[u], p[v] = sign, float(a), float(b)
                corners.append(tuple(p))
            if sign < 0:
                corners.reverse()
            faces.append(corners)
    return faces


def clip(faces, normal, offset):
    """Cuts the convex polyhedron (a list of faces) by the half-space
    dot(normal, p) <= offset and returns the faces of what is left."""
    kept = []
    cut_points = []
    for face in faces:
        out = []
        count = len(face)
        for i in range(count):
            p, q = face[i], face[(i + 1) % count]
            dp, dq = dot(normal, p) - offset, dot(normal, q) - offset
            if dp <= EPSILON:
                out.append(p)
                if dp >= -EPSILON:
                    cut_points.append(p)
            if (dp < -EPSILON and dq > EPSILON) or (dp > EPSILON and dq < -EPSILON):
                t = dp / (dp - dq)
                x = add(p, scale(sub(q, p), t))
                out.append(x)
                cut_points.append(x)
        if len(out) >= 3:
            kept.append(out)
    cap = dedupe(cut_points, 1e-12)
    if len(cap) >= 3:
        centre = scale(sum_points(cap), 1.0 / len(cap))
        # A basis of the cutting plane, then the cap's points by angle so
        # that the cap faces along +normal.
        helper = (1.0, 0.0, 0.0) if abs(normal[0]) < 0.9 else (0.0, 1.0, 0.0)
        u = cross(normal, helper)
        u = scale(u, 1.0 / math.sqrt(dot(u, u)))
        v = cross(normal, u)
        cap.sort(key=lambda p: math.atan2(dot(sub(p, centre), v), dot(sub(p, centre), u)))
        kept.append(cap)
    return kept


def sum_points(points):
    x = y = z = 0.0
    for p in points:
        x += p[0]
        y += p[1]
        z += p[2]
    return (x, y, z)


def dedupe(points, tolerance):
    unique = []
    for p in points:
        if all(dot(sub(p, q), sub(p, q)) > tolerance for q in unique):
            unique.append(p)
    return unique


def volume_and_centroid(faces):
    reference = faces[0][0]
    volume = 0.0
    moment = (0.0, 0.0, 0.0)
    for face in faces:
        for i in range(1, len(face) - 1):
            a, b, c = face[0], face[i], face[i + 1]
            v = dot(sub(a, reference), cross(sub(b, reference), sub(c, reference))) / 6.0
            volume += v
            moment = add(moment, scale(add(add(a, b), add(c, reference)), v / 4.0))
    return volume, scale(moment, 1.0 / volume)


def voronoi_cell(seeds, index):
    """The cell of seeds[index] within the cube, as a list of faces."""
    me = seeds[index]
    others = sorted((dot(sub(s, me), sub(s, me)), s) for j, s in enumerate(seeds) if j != index)
    faces = cube_faces()
    for distance_sq, other in others:
        reach = max(dot(sub(p, me), sub(p, me)) for face in faces for p in face)
        # A bisector farther than the cell's farthest corner cannot cut it.
        if distance_sq > 4.0 * reach:
            break
        normal = sub(other, me)
        midpoint = scale(add(other, me), 0.5)
        faces = clip(faces, normal, dot(normal, midpoint))
    return faces


def in_cell(seeds, index, point):
    """Whether point lies in the Voronoi cell of seeds[index] (ties count)."""
    own = dot(sub(point, seeds[index]), sub(point, seeds[index]))
    return all(own <= dot(sub(point, s), sub(point, s)) + EPSILON for s in seeds)


def place_seeds():
    """The fixed fragments' seeds sit at their fixed positions, so each
    position lies inside its own cell; the others start at random and are
    relaxed towards their cells' centroids (Lloyd), which evens out the cell
    sizes. A free seed is kept farther from CORNER than the seed of fragment
    0, so that the corner stays in fragment 0."""
    generator = Minstd(FRAGMENT_SEED)
    pinned = [FIXED_FRAGMENTS[f][2] for f in sorted(FIXED_FRAGMENTS)]
    corner_reach = math.sqrt(dot(sub(pinned[0], CORNER), sub(pinned[0], CORNER))) * 1.05

    def keep_off_corner(p):
        offset = sub(p, CORNER)
        distance = math.sqrt(dot(offset, offset))
        return p if distance >= corner_reach else add(CORNER, scale(offset, corner_reach / distance))

    free = [keep_off_corner(tuple(generator.next_unit() * 2.0 - 1.0 for _ in range(3)))
            for _ in range(FRAGMENT_COUNT - len(pinned))]
    for _ in range(LLOYD_ROUNDS):
        seeds = pinned + free
        free = [keep_off_corner(volume_and_centroid(voronoi_cell(seeds, i))[1])
                for i in range(len(pinned), FRAGMENT_COUNT)]
    return pinned + free


def point_counts(corner_counts):
    """The number of points stored per fragment: its corners, or more where
    the fixed figures need more (fixed counts, the fewest and most points per
    fragment, the total). Extra points go one by one to the fragment with
    the fewest points, keeping one fragment of FEWEST_POINTS and one of
    MOST_POINTS."""
    counts = [max(c, FEWEST_POINTS) for c in corner_counts]
    free = [f for f in range(FRAGMENT_COUNT) if f not in FIXED_FRAGMENTS]
    for f, (points, _, _) in FIXED_FRAGMENTS.items():
        if corner_counts[f] > points:
            raise SystemExit("fragment %d has %d corners, more than its %d points" % (f, corner_counts[f], points))
        counts[f] = points
    most = max(free, key=lambda f: (corner_counts[f], -f))
    fewest = min(free, key=lambda f: (corner_counts[f], f))
    if corner_counts[most] > MOST_POINTS or corner_counts[fewest] > FEWEST_POINTS:
        raise SystemExit("fragment corners outside %d to %d" % (FEWEST_POINTS, MOST_POINTS))
    counts[most] = MOST_POINTS
    growing = [f for f in free if f not in (most, fewest)]
    while sum(counts) < POINT_TOTAL:
        f = min(growing, key=lambda f: (counts[f], f))
        counts[f] += 1
    if sum(counts) != POINT_TOTAL:
        raise SystemExit("fragment corners exceed %d points" % POINT_TOTAL)
    return counts


def masses(volumes):
    """Masses that grow with volume from LIGHTEST (the smallest free cell) to
    HEAVIEST (the largest) and, with the fixed masses, add up to TOTAL_MASS:
    m = LIGHTEST + (HEAVIEST - LIGHTEST) * t ** power, t the cell's volume
    scaled to 0..1, with power found by bisection; the last rounding error is
    taken up by the median free fragment."""
    free = [f for f in range(FRAGMENT_COUNT) if f not in FIXED_FRAGMENTS]
    low = min(volumes[f] for f in free)
    high = max(volumes[f] for f in free)
    fixed_total = sum(mass for _, mass, _ in FIXED_FRAGMENTS.values())

    def free_masses(power):
        return {f: LIGHTEST + (HEAVIEST - LIGHTEST) * ((volumes[f] - low) / (high - low)) ** power for f in free}

    small, large = 0.01, 100.0
    for _ in range(200):
        power = math.sqrt(small * large)
        if sum(free_masses(power).values()) + fixed_total > TOTAL_MASS:
            small = power
        else:
            large = power
    result = [0.0] * FRAGMENT_COUNT
    for f, mass in free_masses(power).items():
        result[f] = f32(mass)
    for f, (_, mass, _) in FIXED_FRAGMENTS.items():
        result[f] = f32(mass)
    median = sorted(free, key=lambda f: (volumes[f], f))[len(free) // 2]
    result[median] = f32(result[median] + (TOTAL_MASS - sum(result)))
    return result


def make_fragments():
    seeds = place_seeds()
    cells = []
    for i in range(FRAGMENT_COUNT):
        faces = voronoi_cell(seeds, i)
        volume, centroid = volume_and_centroid(faces)
        corners = dedupe([p for face in faces for p in face], 1e-12)
        cells.append((centroid, volume, corners, faces, i))
    # The fixed fragments at their indices, the others between them in order
    # of their centroids along x, then y, then z.
    fixed = sorted(FIXED_FRAGMENTS)
    free = sorted(cells[len(fixed):], key=lambda cell: cell[0])
    order = free[:]
    for slot, f in enumerate(fixed):
        order.insert(f, cells[slot])
    volumes = [cell[1] for cell in order]
    counts = point_counts([len(cell[2]) for cell in order])
    stored_masses = masses(volumes)

    # Positions: the fixed ones, else the centroid, kept within
    # POSITION_LIMIT of the centre on each axis; the outermost coordinate of
    # all is moved out to the limit, so that the positions span it.
    positions = [list(FIXED_FRAGMENTS[f][2]) if f in FIXED_FRAGMENTS else
                 [min(max(c, -POSITION_LIMIT), POSITION_LIMIT) for c in cell[0]]
                 for f, cell in enumerate(order)]
    outermost, axis = max(((f, k) for f in range(FRAGMENT_COUNT) if f not in FIXED_FRAGMENTS for k in range(3)),
                          key=lambda fk: (abs(positions[fk[0]][fk[1]]), fk))
    positions[outermost][axis] = math.copysign(POSITION_LIMIT, positions[outermost][axis])
    for f, cell in enumerate(order):
        if not in_cell(seeds, cell[4], tuple(positions[f])):
            raise SystemExit("fragment %d: its position is outside its cell" % f)

    if abs(sum(volumes) - 8.0) > 1e-9:
        raise SystemExit("the cells fill %.12f of the cube's 8" % sum(volumes))
    fragments = []
    for f, (centroid, _, corners, _, _) in enumerate(order):
        position = tuple(f32(c) for c in positions[f])
        # Corners in ascending order (so CORNER comes first where it is one),
        # then points well inside the cell, which leave the hull unchanged:
        # halfway from the centroid to the corners in turn (a quarter of the
        # way on a second round). Points on edges or faces would not do: once
        # rounded to float they can stand out of the face by a hair and give
        # the hull sliver faces with meaningless normals.
        points = sorted(corners)
        for k in range(counts[f] - len(corners)):
            share = 0.5 ** (k // len(corners) + 1)
            points.append(add(centroid, scale(sub(points[k % len(corners)], centroid), share)))
        fragments.append((stored_masses[f], position, [tuple(f32(p[k] - position[k]) for k in range(3)) for p in points]))
    return fragments


def check_fragments(fragments):
    """Every fixed figure of the fragments (mass, position, points); returns
    what misses."""
    misses = []
    counts = [len(points) for _, _, points in fragments]
    stored_masses = [mass for mass, _, _ in fragments]
    positions = [position for _, position, _ in fragments]

    def expect(ok, text):
        if not ok:
            misses.append(text)

    expect(len(fragments) == FRAGMENT_COUNT, "%d fragments" % len(fragments))
    expect(sum(counts) == POINT_TOTAL, "%d points in all" % sum(counts))
    expect(min(counts) == FEWEST_POINTS and max(counts) == MOST_POINTS,
           "%d to %d points per fragment" % (min(counts), max(counts)))
    expect("%.6f" % min(stored_masses) == "%.6f" % LIGHTEST and "%.6f" % max(stored_masses) == "%.6f" % HEAVIEST,
           "masses from %.6f to %.6f" % (min(stored_masses), max(stored_masses)))
    expect(abs(sum(stored_masses) - TOTAL_MASS) < 1e-6, "masses sum to %.9f" % sum(stored_masses))
    reach = max(abs(c) for p in positions for c in p)
    expect("%.6f" % reach == "%.6f" % POSITION_LIMIT, "positions within +-%.6f" % reach)
    corners = set()
    for _, position, points in fragments:
        for p in points:
            absolute = [f32(position[k] + p[k]) for k in range(3)]
            expect(all(abs(c) <= 1.0 + 1e-6 for c in absolute), "a point outside the cube")
            if all(abs(abs(c) - 1.0) <= 1e-6 for c in absolute):
                corners.add(tuple(1 if c > 0 else -1 for c in absolute))
    expect(len(corners) == 8, "%d of the cube's corners are points" % len(corners))
    for f, (points, mass, position) in FIXED_FRAGMENTS.items():
        expect(counts[f] == points, "fragment %d: %d points" % (f, counts[f]))
        expect(stored_masses[f] == f32(mass), "fragment %d: mass %r" % (f, stored_masses[f]))
        expect(positions[f] == tuple(f32(c) for c in position), "fragment %d: position %r" % (f, positions[f]))
    first = fragments[0][2][0]
    expect(["%.6f" % c for c in first] == ["%.6f" % c for c in FIRST_POINT]
           and tuple(f32(fragments[0][1][k] + first[k]) for k in range(3)) == CORNER,
           "fragment 0 starts at %r" % (first,))
    return misses


def fragment_source(fragments):
    counts = [len(points) for _, _, points in fragments]
    lines = [
        "// Generated by tools/make_scene_tables.py; edit that program, not this file.",
        "// The cube [-1, 1]^3 in %d convex fragments (Voronoi cells): masses growing" % len(fragments),
        "// with volume and summing to 8.0, positions inside the cells (mostly their",
        "// centroids), hull points relative to the position.",
        "",
        '#include "scene_tables.h"',
        "",
        "const std::uint32_t fragmentPointCounts[kFragmentCount] = {",
    ]
    lines += wrap([str(c) + "u" for c in counts])
    lines += ["};", "", "const float fragmentMasses[kFragmentCount] = {"]
    lines += wrap([c_float(m) for m, _, _ in fragments])
    lines += ["};", "", "const float fragmentPositions[kFragmentCount][3] = {"]
    lines += ["    {%s}," % ", ".join(c_float(c) for c in position) for _, position, _ in fragments]
    lines += ["};", "", "const std::uint32_t fragmentPointTotal = %du;" % sum(len(p) for _, _, p in fragments), "", "const float fragmentPoints[%d * 3] = {" % sum(len(p) for _, _, p in fragments)]
    for index, (_, _, points) in enumerate(fragments):
        lines.append("    // fragment %d" % index)
        lines += wrap([c_float(c) for p in points for c in p])
    lines += ["};", ""]
    return "\n".join(lines), sum(counts)


# ---------------------------------------------------------------- terrain

SPACING = 250.0 / 64.0

# (samples along x, samples along z, first x, first z, lowest, highest height)
TERRAIN_PARTS = [
    (64, 32, SPACING, 128.90625, 0.45, 45.09),
    (66, 30, -250.0, SPACING, -6.73, 52.62),
    (64, 32, SPACING, -117.1875, -5.16, 62.11),
    (64, 33, SPACING, SPACING, 8.44, 55.57),
    (66, 34, -250.0, -125.0, -0.99, 62.11),
    (66, 35, -250.0, 117.1875, -5.02, 37.35),
    (64, 35, SPACING, -250.0, -21.81, 50.47),
    (66, 33, -250.0, -250.0, -1.21, 50.47),
]
BUMP_RADIUS_CELLS = 6


def base_height(x, z):
    """Rolling ground between 16 and 30 over the whole square."""
    return (23.0 + 3.5 * math.sin(x / 61.0 + 0.4) * math.cos(z / 53.0 - 0.8)
            + 2.5 * math.sin((x + z) / 97.0 + 1.3) + 1.0 * math.cos((x - 0.6 * z) / 37.0))


def centimetres(height):
    """Heights are stored to 0.01, which keeps the table's text short."""
    return f32(round(height, 2))


def bump(distance_cells):
    """Smooth hill of height 1 at its centre and 0 from BUMP_RADIUS_CELLS on."""
    t = distance_cells / BUMP_RADIUS_CELLS
    return (1.0 - t * t) ** 3 if t < 1.0 else 0.0


def make_terrain_part(nx, nz, x0, z0, low, high):
    grid = [[centimetres(base_height(x0 + ix * SPACING, z0 + iz * SPACING)) for iz in range(nz)] for ix in range(nx)]
    margin = BUMP_RADIUS_CELLS + 1
    candidates = [(ix, iz) for ix in range(margin, nx - margin) for iz in range(margin, nz - margin)]
    peak = max(candidates, key=lambda c: (grid[c[0]][c[1]], c))
    # The hollow lies in the other half of the part along x, so that it and
    # the hill never overlap.
    far = [c for c in candidates if abs(c[0] - peak[0]) >= 2 * BUMP_RADIUS_CELLS]
    pit = min(far, key=lambda c: (grid[c[0]][c[1]], c))
    heights = [row[:] for row in grid]
    for (cx, cz), target in ((peak, f32(high)), (pit, f32(low))):
        amplitude = target - grid[cx][cz]
        for ix in range(cx - BUMP_RADIUS_CELLS, cx + BUMP_RADIUS_CELLS + 1):
            for iz in range(cz - BUMP_RADIUS_CELLS, cz + BUMP_RADIUS_CELLS + 1):
                w = bump(math.hypot(ix - cx, iz - cz))
                if w > 0.0:
                    heights[ix][iz] = centimetres(grid[ix][iz] + amplitude * w)
        heights[cx][cz] = target
    flat = [h for row in heights for h in row]
    if min(flat) != f32(low) or max(flat) != f32(high):
        raise SystemExit("terrain part misses its height range: %r %r" % ((min(flat), max(flat)), (low, high)))

    # Triangles strip by strip, vertices numbered by first use.
    numbers = {}
    order = []
    indices = []

    def number(ix, iz):
        if (ix, iz) not in numbers:
            numbers[(ix, iz)] = len(order)
            order.append((ix, iz))
        return numbers[(ix, iz)]

    for iz in range(nz - 1):
        for ix in range(nx - 1):
            a, b = number(ix, iz), number(ix, iz + 1)
            c, d = number(ix + 1, iz), number(ix + 1, iz + 1)
            indices += [a, b, c, d, c, b]
    vertices = [(x0 + ix * SPACING, heights[ix][iz], z0 + iz * SPACING) for ix, iz in order]
    return vertices, indices


def terrain_source(parts):
    lines = [
        "// Generated by tools/make_scene_tables.py; edit that program, not this file.",
        "// Eight height grids, spacing 250/64, tiling x, z in [-250, 250]; two",
        "// triangles per cell, 16-bit indices, vertices numbered by first use.",
        "",
        '#include "scene_tables.h"',
        "",
        "namespace {",
        "",
    ]
    for p, (vertices, indices) in enumerate(parts):
        lines.append("const float vertices%d[%d * 3] = {" % (p, len(vertices)))
        lines += wrap([c_float(c) for v in vertices for c in v])
        lines += ["};", "", "const std::uint16_t indices%d[%d] = {" % (p, len(indices))]
        lines += wrap([str(i) for i in indices])
        lines += ["};", ""]
    lines += ["} // namespace", ""]
    lines.append("const std::uint32_t terrainVertexCounts[kTerrainPartCount] = {%s};"
                 % ", ".join("%du" % len(v) for v, _ in parts))
    lines.append("const std::uint32_t terrainIndexCounts[kTerrainPartCount] = {%s};"
                 % ", ".join("%du" % len(i) for _, i in parts))
    lines.append("const float* const terrainVertices[kTerrainPartCount] = {%s};"
                 % ", ".join("vertices%d" % p for p in range(len(parts))))
    lines.append("const std::uint16_t* const terrainIndices[kTerrainPartCount] = {%s};"
                 % ", ".join("indices%d" % p for p in range(len(parts))))
    lines.append("")
    return "\n".join(lines)


# ---------------------------------------------------------------- output


def wrap(items, width=100):
    lines, line = [], "   "
    for item in items:
        if len(line) + len(item) + 2 > width:
            lines.append(line)
            line = "   "
        line += " " + item + ","
    if line.strip():
        lines.append(line)
    return lines


def parse_fragment_source(text):
    """The fragments (mass, position, points) that a fragment table holds."""
    def numbers(name):
        body = re.search(name + r"\[[^]]*\](?:\[3\])? = \{(.*?)\n\};", text, re.S).group(1)
        body = re.sub(r"//[^\n]*", "", body)
        return [f32(float(n.rstrip("uf"))) for n in re.findall(r"-?[0-9][0-9.e+-]*[uf]?", body)]

    counts = [int(c) for c in numbers("fragmentPointCounts")]
    masses_ = numbers("fragmentMasses")
    positions = numbers("fragmentPositions")
    points = numbers("fragmentPoints")
    fragments, at = [], 0
    for f, count in enumerate(counts):
        run = [tuple(points[3 * (at + i) + k] for k in range(3)) for i in range(count)]
        fragments.append((masses_[f], tuple(positions[3 * f + k] for k in range(3)), run))
        at += count
    if 3 * at != len(points):
        raise SystemExit("fragment table: %d point values for %d points" % (len(points), at))
    return fragments


def main():
    arguments = sys.argv[1:]
    check = "--check" in arguments
    # --dir DIR reads (or writes) the tables in DIR instead of beside this
    # directory: a copy to check.
    tables_dir = arguments[arguments.index("--dir") + 1] if "--dir" in arguments else OUT_DIR
    fragments = make_fragments()
    fragment_text, point_total = fragment_source(fragments)
    counts = [len(points) for _, _, points in fragments]
    terrain_text = terrain_source([make_terrain_part(*part) for part in TERRAIN_PARTS])
    outputs = {"fragment_tables.cpp": fragment_text, "terrain_tables.cpp": terrain_text}

    failed = False
    for name, text in outputs.items():
        path = os.path.join(tables_dir, name)
        if check:
            with open(path, encoding="utf-8") as stored:
                stored_text = stored.read()
            if stored_text != text:
                print("%s differs from what the generator makes" % path)
                failed = True
            if name == "fragment_tables.cpp":
                # The figures of what is stored, not only of what is made.
                for miss in check_fragments(parse_fragment_source(stored_text)):
                    print("%s misses a fixed figure: %s" % (path, miss))
                    failed = True
        else:
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
    for miss in check_fragments(fragments):
        print("the generated fragments miss a fixed figure: " + miss)
        failed = True
    print("fragments: %d, %d points (%d to %d per fragment)" % (len(fragments), point_total, min(counts), max(counts)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
