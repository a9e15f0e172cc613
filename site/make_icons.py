#!/usr/bin/env python3
"""Draws the store's 48 x 48 program icons from data/site/catalogue.json.

Every program gets a rounded tile in its own colour with its own glyph. The
icon's file name picks the format, so that clients meet every common kind of
picture: PNG (with alpha), JPEG (baseline), GIF (one transparent colour) and
BMP (24-bit or 8-bit with a palette). Standard library only; run it again after
changing the catalogue and commit the results.

    python3 site/make_icons.py [catalogue.json] [output folder]
"""
import heapq
import json
import math
import os
import struct
import sys
import zlib

SIZE = 48
SUB = 4  # samples per pixel and axis for smooth edges
WHITE = (255, 255, 255)
TILE = "tile"  # paints the tile's own colour back: holes and gaps in a glyph


def hexcolour(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


# Shapes: functions of a point (x, y) in pixel units, true when inside.

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1


def ellipse_edge(cx, cy, rx, ry, w, lower_only=False):
    def inside(x, y):
        if lower_only and y < cy:
            return False
        d = math.hypot((x - cx) / rx, (y - cy) / ry)
        return abs(d - 1) * min(rx, ry) <= w / 2
    return inside


def arc(cx, cy, r, w, a0, a1):
    """A ring from angle a0 to a1 (degrees, counter-clockwise, 0 = east)."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > w / 2:
            return False
        if a1 - a0 >= 360:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return (a - a0) % 360 <= (a1 - a0) % 360
    return inside


def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if r <= 0:
            return True
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def poly(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                hit = not hit
        return hit
    return inside


def line(x0, y0, x1, y1, w):
    def inside(x, y):
        vx, vy = x1 - x0, y1 - y0
        t = ((x - x0) * vx + (y - y0) * vy) / (vx * vx + vy * vy or 1)
        t = max(0.0, min(1.0, t))
        return math.hypot(x - (x0 + t * vx), y - (y0 + t * vy)) <= w / 2
    return inside


def star(cx, cy, outer, inner, points=5, turn=-90):
    pts = []
    for i in range(points * 2):
        r = outer if i % 2 == 0 else inner
        a = math.radians(turn + i * 180 / points)
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return poly(pts)


def regular(cx, cy, r, sides, turn=0):
    return poly([(cx + r * math.cos(math.radians(turn + i * 360 / sides)),
                  cy + r * math.sin(math.radians(turn + i * 360 / sides))) for i in range(sides)])


def rotated_rect(cx, cy, w, h, degrees):
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    return poly([(cx + x * c - y * s, cy + x * s + y * c)
                 for x, y in ((-w / 2, -h / 2), (w / 2, -h / 2), (w / 2, h / 2), (-w / 2, h / 2))])


def arrow_arc(cx, cy, r, w, a0, a1):
    """An arc with an arrow head at its a1 end."""
    a = math.radians(a1)
    px, py = cx + r * math.cos(a), cy - r * math.sin(a)
    dx, dy = -math.sin(a), -math.cos(a)  # direction of growing angle on screen
    nx, ny = math.cos(a), -math.sin(a)
    head = poly([(px + dx * 6.5, py + dy * 6.5), (px + nx * 6, py + ny * 6), (px - nx * 6, py - ny * 6)])
    ring = arc(cx, cy, r, w, a0, a1)
    return lambda x, y: ring(x, y) or head(x, y)


RED, YELLOW, BLUE, GREEN, PURPLE, ORANGE = (hexcolour(c) for c in (
    "#E74C3C", "#F1C40F", "#3498DB", "#27AE60", "#8E44AD", "#F39C12"))


def glyphs():
    """Per program: tile colour and the glyph's layers (shape, colour)."""
    W = WHITE
    g = {}
    g["notelark"] = ("#F2B53A", [(rect(14, 9, 34, 39, 3), W)] + [
        (line(18.5, y, x, y, 2.4), TILE) for y, x in ((17, 29.5), (23, 29.5), (29, 29.5), (35, 25))])
    g["tidewave"] = ("#2E86C1", [(arc(24, 24, 13, 3, 0, 360), W), (poly([(20, 16.5), (20, 31.5), (32.5, 24)]), W)])
    teeth = [(rect(21, y, 24, y + 2), W) for y in range(13, 30, 4)] + \
            [(rect(24, y + 2, 27, y + 4), W) for y in range(13, 30, 4)]
    g["pebblezip"] = ("#8A6F4D", [(rect(11, 11, 37, 37, 4), W), (rect(21, 11, 27, 37), TILE)] + teeth +
                      [(rect(20.5, 31, 27.5, 37, 1.5), W)])
    g["ferrylight"] = ("#17A2B8", [
        (arc(24, 24, 13, 2.6, 0, 360), W), (ellipse_edge(24, 24, 6, 13, 2.4), W), (line(11, 24, 37, 24, 2.4), W),
        (line(13.5, 17.5, 34.5, 17.5, 2), W), (line(13.5, 30.5, 34.5, 30.5, 2), W)])
    g["halvex-guard"] = ("#27AE60", [
        (poly([(24, 8.5), (36.5, 13), (36.5, 23), (33.5, 31), (24, 39.5), (14.5, 31), (11.5, 23), (11.5, 13)]), W),
        (line(18, 24, 22.5, 28.5, 3.2), TILE), (line(22.5, 28.5, 30.5, 19.5, 3.2), TILE)])
    g["framesmith"] = ("#8E44AD", [
        (rect(9.5, 11.5, 38.5, 36.5, 3), W), (rect(13, 15, 35, 33, 1), TILE),
        (poly([(13, 33), (21.5, 21), (26.5, 27.5), (29.5, 24), (35, 33)]), W), (circle(29.5, 19.5, 2.6), W)])
    g["halvex-cleaner"] = ("#16A085", [
        (star(21, 27, 12, 3.6, 4, -90), W), (star(33.5, 14, 5.5, 1.8, 4, -90), W), (circle(35, 31, 1.8), W)])
    g["postmoss"] = ("#E4572E", [
        (rect(9.5, 14.5, 38.5, 33.5, 3), W), (line(12.5, 17.5, 24, 26, 2.4), TILE), (line(24, 26, 35.5, 17.5, 2.4), TILE)])
    g["codeloom"] = ("#34495E", [
        (line(17, 16.5, 10.5, 24, 3.2), W), (line(10.5, 24, 17, 31.5, 3.2), W),
        (line(31, 16.5, 37.5, 24, 3.2), W), (line(37.5, 24, 31, 31.5, 3.2), W), (line(27, 14, 21, 34, 3), YELLOW)])
    g["keyfold"] = ("#B7950B", [
        (arc(16.5, 24, 6, 3.6, 0, 360), W), (line(22.5, 24, 38, 24, 3.6), W),
        (rect(31, 24, 33.6, 30.5, 0.8), W), (rect(35.4, 24, 38, 29, 0.8), W)])
    g["slatewrite"] = ("#3867D6", [
        (poly([(24, 8.5), (33.5, 22), (28.5, 35.5), (19.5, 35.5), (14.5, 22)]), W),
        (line(24, 22, 24, 33, 1.8), TILE), (circle(24, 21, 2.6), TILE), (line(15, 40, 33, 40, 2.2), W)])
    holes = [(rect(x, y, x + 3, y + 2.8, 0.6), TILE) for y in (12.5, 18, 23.5, 29, 34.5) for x in (14.5, 30.5)]
    g["reelcut"] = ("#C0392B", [(rect(12.5, 10, 35.5, 39, 2), W)] + holes + [(rect(19.5, 13.5, 28.5, 35.5, 1), TILE),
                                                                         (poly([(22, 19.5), (22, 29.5), (27, 24.5)]), W)])
    g["brookfetch"] = ("#5B5BD6", [
        (line(24, 9.5, 24, 26, 4.2), W), (poly([(14.5, 22.5), (33.5, 22.5), (24, 33)]), W),
        (line(13, 38, 35, 38, 3.4), W)])
    g["mosswood-chess"] = ("#5D8A3A", [
        (circle(24, 14.5, 5.2), W), (rect(19.5, 20.5, 28.5, 23.2, 1), W),
        (poly([(21, 23), (27, 23), (30.5, 33.5), (17.5, 33.5)]), W), (rect(14, 33, 34, 38.5, 2), W)])
    g["gridmoor"] = ("#1E8449", [
        (rect(10.5, 10.5, 37.5, 37.5, 3), W), (rect(19, 10, 20.6, 38), TILE), (rect(27.4, 10, 29, 38), TILE),
        (rect(10, 19, 38, 20.6), TILE), (rect(10, 27.4, 38, 29), TILE), (rect(13, 13, 17.2, 17.2, 0.8), GREEN)])
    g["snapmoth"] = ("#C2185B", [
        (rect(9.5, 16, 38.5, 36, 4), W), (rect(17.5, 12, 30.5, 18, 2), W), (circle(24, 26, 7.4), TILE),
        (circle(24, 26, 4.4), W), (circle(33.5, 20.5, 1.6), TILE)])
    g["dupehound"] = ("#607D8B", [
        (rect(10.5, 9.5, 29, 32, 2.5), W), (rect(17, 15, 38, 39, 3), TILE), (rect(18.8, 16.8, 36.5, 37.5, 2.5), W),
        (line(22.5, 23, 33, 23, 2), TILE), (line(22.5, 28, 33, 28, 2), TILE), (line(22.5, 33, 29, 33, 2), TILE)])
    g["driftback"] = ("#1F3A93", [
        (arrow_arc(24, 24, 12, 3.4, 120, 420), W), (line(24, 24, 24, 16.5, 2.6), W), (line(24, 24, 29.5, 27.5, 2.6), W)])
    g["lyrebox"] = ("#E67E22", [
        (circle(14.5, 33.5, 3.4), W), (arc(14.5, 33.5, 9, 3.2, 0, 90), W), (arc(14.5, 33.5, 15.5, 3.2, 0, 90), W),
        (arc(14.5, 33.5, 22, 3.2, 2, 88), W)])
    g["hexwright"] = ("#00838F", [
        (regular(24, 24, 14.5, 6), W), (regular(24, 24, 10, 6), TILE), (regular(24, 24, 5, 6, 30), W)])
    g["quillview"] = ("#7B241C", [
        (poly([(9.5, 14.5), (23, 17.5), (23, 37.5), (9.5, 34.5)]), W),
        (poly([(38.5, 14.5), (25, 17.5), (25, 37.5), (38.5, 34.5)]), W)] + [
        (line(12.5, y, 20.5, y + 1.7, 1.6), TILE) for y in (20, 24.5, 29)] + [
        (line(27.5, y + 1.7, 35.5, y, 1.6), TILE) for y in (20, 24.5, 29)])
    g["cardwell"] = ("#0E6655", [
        (rotated_rect(19, 23, 16, 23, -16), W), (rotated_rect(19, 23, 12, 19, -16), (214, 234, 228)),
        (rect(18, 11, 37.5, 38, 3.2), TILE), (rect(19.8, 12.8, 35.8, 36.2, 2.5), W),
        (poly([(27.8, 17.5), (32, 24.5), (27.8, 31.5), (23.6, 24.5)]), RED)])
    g["vectorine"] = ("#FF6F61", [
        (arc(24, 39, 15.5, 2.6, 32, 148), W), (rect(8, 27.5, 14.5, 34, 1), W), (rect(33.5, 27.5, 40, 34, 1), W),
        (line(13, 14, 35, 14, 1.8), W), (circle(13, 14, 2.6), W), (circle(35, 14, 2.6), W),
        (rect(21, 11, 27, 17, 1), W), (rect(22.6, 12.6, 25.4, 15.4), TILE)])
    strips = [(rect(x, 24, x + 3, 38 - (i % 2) * 3.5, 1), W) for i, x in enumerate((12.5, 17, 21.5, 26, 30.5))]
    g["shredkin"] = ("#4A4E69", [(rect(9.5, 11, 38.5, 22, 3), W), (line(14, 16.5, 34, 16.5, 1.8), TILE)] + strips)
    g["querybay"] = ("#0277BD", [
        (rect(13, 14, 35, 34), W), (ellipse(24, 14, 11, 4.6), W), (ellipse(24, 34, 11, 4.6), W),
        (ellipse_edge(24, 14, 11, 4.6, 1.6, True), TILE), (ellipse_edge(24, 21, 11, 4.6, 1.6, True), TILE),
        (ellipse_edge(24, 28, 11, 4.6, 1.6, True), TILE)])
    g["chatterwell"] = ("#3498DB", [
        (rect(25, 21.5, 40, 35, 5), (214, 234, 248)), (poly([(33, 33), (38.5, 39.5), (29.5, 34)]), (214, 234, 248)),
        (rect(7.5, 9.5, 34.5, 30.5, 7), TILE), (rect(9, 11, 33, 29, 6), W), (poly([(13.5, 27), (12.5, 35.5), (21.5, 28)]), W),
        (circle(15.5, 20, 2), TILE), (circle(21, 20, 2), TILE), (circle(26.5, 20, 2), TILE)])
    g["ledgerly"] = ("#7D5A50", [
        (rect(11.5, 26, 17.5, 36.5, 1), W), (rect(21, 19, 27, 36.5, 1), W), (rect(30.5, 12, 36.5, 36.5, 1), W),
        (line(9.5, 39, 38.5, 39, 2.2), W)])
    g["tonesmith"] = ("#6C3483", [
        (line(x, 24 - h / 2, x, 24 + h / 2, 2.8), W)
        for x, h in zip((11, 15.5, 20, 24.5, 29, 33.5, 38), (5, 13, 22, 28, 17, 10, 4))])
    g["diffkin"] = ("#2874A6", [
        (rect(8.5, 10.5, 23, 37.5, 2.5), W), (rect(25, 10.5, 39.5, 37.5, 2.5), W),
        (line(12, 17, 20, 17, 1.8), TILE), (line(12, 22, 18, 22, 1.8), TILE), (line(12, 27, 20, 27, 2.4), RED),
        (line(12, 32, 17, 32, 1.8), TILE), (line(28.5, 17, 36.5, 17, 1.8), TILE), (line(28.5, 22, 34.5, 22, 1.8), TILE),
        (line(28.5, 27, 36.5, 27, 2.4), GREEN), (line(28.5, 32, 33.5, 32, 1.8), TILE)])
    g["gaugebay"] = ("#E74C3C", [
        (arc(24, 29, 13, 3.4, 0, 180), W), (line(24, 29, 32, 20.5, 2.8), W), (circle(24, 29, 3.4), W),
        (line(11, 34.5, 17, 34.5, 2.4), W), (line(31, 34.5, 37, 34.5, 2.4), W)])
    g["quaylink"] = ("#AF601A", [
        (line(18, 18, 18, 37, 3.6), W), (poly([(11, 20), (25, 20), (18, 10.5)]), W),
        (line(30, 11, 30, 30, 3.6), W), (poly([(23, 28), (37, 28), (30, 37.5)]), W)])
    g["pixelfen"] = ("#48C9B0", [
        (ellipse(24, 24, 15.5, 13), W), (circle(29.5, 30.5, 3.4), TILE), (circle(15.5, 20, 2.9), RED),
        (circle(21.5, 15, 2.9), YELLOW), (circle(29, 15, 2.9), BLUE), (circle(34, 21.5, 2.9), GREEN),
        (circle(16, 28, 2.9), PURPLE)])
    g["starfen-racer"] = ("#1B2631", [
        (star(28.5, 24.5, 12, 5, 5), hexcolour("#F4D03F")), (line(6.5, 18, 13, 18, 2.4), W),
        (line(5, 24.5, 12.5, 24.5, 2.4), W), (line(6.5, 31, 13, 31, 2.4), W)])
    g["moatline"] = ("#2E4053", [
        (arc(24, 20, 7.5, 3.4, 0, 180), W), (line(16.5, 20, 16.5, 24, 3.4), W), (line(31.5, 20, 31.5, 24, 3.4), W),
        (rect(12.5, 23, 35.5, 38.5, 3), W), (circle(24, 29, 2.7), TILE), (poly([(22.7, 30), (25.3, 30), (26.2, 35), (21.8, 35)]), TILE)])
    g["lanternfall"] = ("#512E5F", [
        (arc(24, 12.5, 4.2, 2, 0, 180), W), (rect(17.5, 12, 30.5, 15.5, 1.5), W), (rect(16.5, 15.5, 31.5, 33, 3), W),
        (rect(19, 18, 29, 30.5, 2), TILE), (poly([(24, 19.5), (27.8, 25.5), (24, 29.5), (20.2, 25.5)]), ORANGE),
        (rect(15.5, 33, 32.5, 37.5, 1.5), W)])
    g["tallyboard"] = ("#D35400", [
        (rect(9.5, 10.5, 38.5, 31, 2.5), W), (line(24, 31, 24, 37, 2.4), W), (line(24, 31, 17, 39, 2.4), W),
        (line(24, 31, 31, 39, 2.4), W), (circle(18.5, 20.5, 5.5), TILE), (poly([(18.5, 20.5), (18.5, 14), (25, 20.5)]), W),
        (line(28, 26, 28, 21, 2.6), TILE), (line(33, 26, 33, 16, 2.6), TILE)])
    return g


def render(colour, layers):
    """RGBA rows: the tile (vertical gradient) with the glyph layers over it."""
    base = hexcolour(colour)
    top = tuple(min(255, round(c + (255 - c) * 0.22)) for c in base)
    bottom = tuple(round(c * 0.9) for c in base)
    tile_shape = rect(1.5, 1.5, SIZE - 1.5, SIZE - 1.5, 10)
    offsets = [(i + 0.5) / SUB for i in range(SUB)]
    pixels = []
    for py in range(SIZE):
        t = py / (SIZE - 1)
        tile_colour = tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3))
        row = []
        for px in range(SIZE):
            samples = [(px + ox, py + oy) for oy in offsets for ox in offsets]
            cover = sum(1 for x, y in samples if tile_shape(x, y)) / len(samples)
            rgb, alpha = list(tile_colour), cover
            for shape, paint in layers:
                c = sum(1 for x, y in samples if shape(x, y)) / len(samples)
                if c:
                    p = tile_colour if paint == TILE else paint
                    rgb = [p[i] * c + rgb[i] * (1 - c) for i in range(3)]
            row.append((round(rgb[0]), round(rgb[1]), round(rgb[2]), round(alpha * 255)))
        pixels.append(row)
    return pixels


def on_white(pixels):
    return [[tuple(round(c * a / 255 + 255 * (1 - a / 255)) for c in (r, g, b)) for r, g, b, a in row]
            for row in pixels]


# PNG

def png(pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


# Palettes for GIF and 8-bit BMP: exact colours, rounded more coarsely until they fit.

def palette_of(rgb_rows, limit):
    step = 1
    while True:
        def q(c):
            return tuple(min(255, (v + step // 2) // step * step) for v in c)
        colours = sorted({q(c) for row in rgb_rows for c in row if c is not None})
        if len(colours) <= limit:
            index = {c: i for i, c in enumerate(colours)}
            return colours, [[None if c is None else index[q(c)] for c in row] for row in rgb_rows]
        step *= 2


# BMP

def bmp(rgb_rows, bits):
    if bits == 24:
        rows = [bytes(v for r, g, b in row for v in (b, g, r)) for row in rgb_rows]
        palette = b""
        used = 0
    else:
        colours, indexed = palette_of(rgb_rows, 256)
        rows = [bytes(row) for row in indexed]
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
        used = len(colours)
    stride = (len(rows[0]) + 3) // 4 * 4
    data = b"".join(r + b"\0" * (stride - len(r)) for r in reversed(rows))  # bottom-up
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, bits, 0, len(data), 2835, 2835, used, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + palette + data


# GIF

def lzw(indices, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    word = ()
    for k in indices:
        longer = word + (k,)
        if longer in table:
            word = longer
            continue
        emit(table[word], width)
        table[longer] = next_code
        next_code += 1
        if next_code > (1 << width) and width < 12:
            width += 1
        if next_code == 4096:
            emit(clear, width)
            table, next_code, width = reset()
        word = (k,)
    if word:
        emit(table[word], width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif(pixels):
    rows = [[None if a < 128 else (r, g, b) for r, g, b, a in row] for row in on_white_keep_alpha(pixels)]
    colours, indexed = palette_of(rows, 255)
    transparent = len(colours)
    colours = colours + [(255, 255, 255)]
    bits = max(2, (len(colours) - 1).bit_length())
    colours += [(0, 0, 0)] * ((1 << bits) - len(colours))
    flat = [transparent if i is None else i for row in indexed for i in row]
    data = lzw(flat, bits)
    blocks = b"".join(bytes((len(data[i:i + 255]),)) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"
    return (b"GIF89a" + struct.pack("<HHBBB", SIZE, SIZE, 0x80 | (bits - 1), transparent, 0)
            + b"".join(bytes(c) for c in colours)
            + b"\x21\xF9\x04\x01\x00\x00" + bytes((transparent,)) + b"\x00"
            + b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0) + bytes((bits,)) + blocks + b"\x3B")


def on_white_keep_alpha(pixels):
    white = on_white(pixels)
    return [[(*white[y][x], pixels[y][x][3]) for x in range(SIZE)] for y in range(SIZE)]


# JPEG (baseline, 4:4:4, Huffman tables made for each picture)

ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14,
          21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53,
          60, 61, 54, 47, 55, 62, 63]
LUMA_Q = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22,
          29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92, 49, 64, 78, 87, 103,
          121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMA_Q = [17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99, 99, 99, 47, 66,
            99, 99, 99, 99, 99, 99] + [99] * 32


def scaled(table, quality):
    s = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [max(1, min(255, (v * s + 50) // 100)) for v in table]


COS = [[math.cos((2 * x + 1) * u * math.pi / 16) * (math.sqrt(0.5) if u == 0 else 1) for x in range(8)]
       for u in range(8)]


def dct(block):
    rows = [[sum(block[y * 8 + x] * COS[u][x] for x in range(8)) / 2 for u in range(8)] for y in range(8)]
    return [sum(rows[y][u] * COS[v][y] for y in range(8)) / 2 for v in range(8) for u in range(8)]


def magnitude(v):
    size = abs(v).bit_length()
    return size, (v if v >= 0 else v + (1 << size) - 1)


def huffman_lengths(freq):
    """Code lengths (at most 16) for the symbols of freq, leaving the all-ones code unused."""
    freq = dict(freq)
    while True:
        heap = [(f, i, [s]) for i, (s, f) in enumerate(sorted(freq.items()))]
        heap.append((0, -1, [256]))  # reserved symbol: keeps the all-ones code free
        heapq.heapify(heap)
        depth = {s: 0 for s in list(freq) + [256]}
        counter = len(heap)
        while len(heap) > 1:
            f1, _, a = heapq.heappop(heap)
            f2, _, b = heapq.heappop(heap)
            for s in a + b:
                depth[s] += 1
            heapq.heappush(heap, (f1 + f2, counter, a + b))
            counter += 1
        if max(depth.values()) <= 16:
            del depth[256]
            return depth
        freq = {s: max(1, f // 2) for s, f in freq.items()}


def huffman_table(freq):
    lengths = huffman_lengths(freq)
    order = sorted(lengths, key=lambda s: (lengths[s], s))
    codes, code, prev = {}, 0, 0
    for s in order:
        code <<= lengths[s] - prev
        prev = lengths[s]
        codes[s] = (code, lengths[s])
        code += 1
    bits = [sum(1 for s in order if lengths[s] == n) for n in range(1, 17)]
    return codes, bytes(bits) + bytes(order)


def jpeg(rgb_rows, quality=92):
    tables = [scaled(LUMA_Q, quality), scaled(CHROMA_Q, quality)]
    planes = [[], [], []]
    for row in rgb_rows:
        for p in (planes[0], planes[1], planes[2]):
            p.append([])
        for r, g, b in row:
            planes[0][-1].append(0.299 * r + 0.587 * g + 0.114 * b - 128)
            planes[1][-1].append(-0.168736 * r - 0.331264 * g + 0.5 * b)
            planes[2][-1].append(0.5 * r - 0.418688 * g - 0.081312 * b)
    # Symbols of every block, interleaved per block row and column (one block of each component per unit).
    units = []
    previous_dc = [0, 0, 0]
    for by in range(0, SIZE, 8):
        for bx in range(0, SIZE, 8):
            for comp in range(3):
                block = [planes[comp][by + y][bx + x] for y in range(8) for x in range(8)]
                q = tables[0 if comp == 0 else 1]
                coef = dct(block)
                zz = [round(coef[ZIGZAG[i]] / q[ZIGZAG[i]]) for i in range(64)]
                diff = zz[0] - previous_dc[comp]
                previous_dc[comp] = zz[0]
                size, bits = magnitude(diff)
                symbols = [("dc", comp, (size, size, bits))]
                run = 0
                last = max([i for i in range(1, 64) if zz[i]], default=0)
                for i in range(1, last + 1):
                    if zz[i] == 0:
                        run += 1
                        continue
                    while run > 15:
                        symbols.append(("ac", comp, (0xF0, 0, 0)))
                        run -= 16
                    size, bits = magnitude(zz[i])
                    symbols.append(("ac", comp, ((run << 4) | size, size, bits)))
                    run = 0
                if last < 63:
                    symbols.append(("ac", comp, (0x00, 0, 0)))
                units.append(symbols)
    freq = {(k, t): {} for k in ("dc", "ac") for t in (0, 1)}
    for symbols in units:
        for kind, comp, value in symbols:
            sym = value[0]
            f = freq[(kind, 0 if comp == 0 else 1)]
            f[sym] = f.get(sym, 0) + 1
    huff = {key: huffman_table(f) for key, f in freq.items()}

    out, acc, nbits = bytearray(), 0, 0

    def put(code, length):
        nonlocal acc, nbits
        acc = (acc << length) | code
        nbits += length
        while nbits >= 8:
            byte = (acc >> (nbits - 8)) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0)
            nbits -= 8
        acc &= (1 << nbits) - 1

    for symbols in units:
        for kind, comp, value in symbols:
            codes = huff[(kind, 0 if comp == 0 else 1)][0]
            sym, size, bits = value
            put(*codes[sym])
            if size:
                put(bits, size)
    if nbits:
        put((1 << (8 - nbits)) - 1, 8 - nbits)

    def segment(marker, payload):
        return bytes((0xFF, marker)) + struct.pack(">H", len(payload) + 2) + payload

    dqt = b"".join(bytes((i,)) + bytes(tables[i][ZIGZAG[k]] for k in range(64)) for i in (0, 1))
    sof = struct.pack(">BHHB", 8, SIZE, SIZE, 3) + bytes((1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1))
    dht = b"".join(bytes((cls << 4 | t,)) + huff[(kind, t)][1]
                   for cls, kind in ((0, "dc"), (1, "ac")) for t in (0, 1))
    sos = bytes((3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0))
    return (b"\xFF\xD8" + segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0") + segment(0xDB, dqt)
            + segment(0xC0, sof) + segment(0xC4, dht) + segment(0xDA, sos) + bytes(out) + b"\xFF\xD9")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    catalogue = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "data", "site", "catalogue.json")
    folder = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(catalogue), "icons")
    with open(catalogue, encoding="utf-8") as f:
        programs = json.load(f)["programs"]
    art = glyphs()
    os.makedirs(folder, exist_ok=True)
    bmp_count = 0
    for p in programs:
        colour, layers = art[p["id"]]
        pixels = render(colour, layers)
        name = p["icon"]
        ext = name.rsplit(".", 1)[-1].lower()
        if ext == "png":
            data = png(pixels)
        elif ext in ("jpg", "jpeg"):
            data = jpeg(on_white(pixels))
        elif ext == "gif":
            data = gif(pixels)
        elif ext == "bmp":
            data = bmp(on_white(pixels), 8 if bmp_count % 2 else 24)
            bmp_count += 1
        else:
            raise SystemExit("unknown icon format: " + name)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        print(f"{name:24} {len(data):6} bytes")


if __name__ == "__main__":
    main()
