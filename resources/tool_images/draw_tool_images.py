#!/usr/bin/env python3
"""Draws the tool-button pictures into this folder.

Each picture n (1..39) is written as picture_NN_colour.ppm (binary PPM: width x height x R, G, B)
and picture_NN_alpha.pgm (binary PGM: width x height alpha values), the two arrays the program
embeds at build time.  Picture 0 is the hand-written picture_00.xpm.

Shapes are sampled 4 x 4 times per pixel, so edges are anti-aliased.  Captions use the pixel font
below, in capitals, on whole pixels so they stay crisp; the artwork of a picture with a caption
keeps clear of it (Canvas.fit draws a drawing into a smaller box).  Only the standard library is needed; run it again after changing
a drawing:  python3 draw_tool_images.py [--png preview-folder]
"""

import math
import os
import struct
import sys
import zlib

SS = 4  # samples per pixel along each axis

# ---- Pixel font: capitals 8 rows tall, 4 columns wide (5 for the letters that need a middle
# column, 3 for the narrow ones), '#' is ink.  Eight rows is the least at which every letter keeps
# its own shape: at five, V could not be told from U and the captions read as blots.
FONT_HEIGHT = 8
FONT = {
    'A': [" ## ", "#  #", "#  #", "#  #", "####", "#  #", "#  #", "#  #"],
    'B': ["### ", "#  #", "#  #", "### ", "#  #", "#  #", "#  #", "### "],
    'C': [" ## ", "#  #", "#   ", "#   ", "#   ", "#   ", "#  #", " ## "],
    'D': ["### ", "#  #", "#  #", "#  #", "#  #", "#  #", "#  #", "### "],
    'E': ["####", "#   ", "#   ", "### ", "#   ", "#   ", "#   ", "####"],
    'F': ["####", "#   ", "#   ", "### ", "#   ", "#   ", "#   ", "#   "],
    'G': [" ## ", "#  #", "#   ", "#   ", "# ##", "#  #", "#  #", " ###"],
    'H': ["#  #", "#  #", "#  #", "####", "#  #", "#  #", "#  #", "#  #"],
    'I': ["###", " # ", " # ", " # ", " # ", " # ", " # ", "###"],
    'K': ["#  #", "#  #", "# # ", "##  ", "##  ", "# # ", "#  #", "#  #"],
    'L': ["#   ", "#   ", "#   ", "#   ", "#   ", "#   ", "#   ", "####"],
    'M': ["#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #", "#   #"],
    'N': ["#  #", "#  #", "## #", "## #", "# ##", "# ##", "#  #", "#  #"],
    'O': [" ## ", "#  #", "#  #", "#  #", "#  #", "#  #", "#  #", " ## "],
    'P': ["### ", "#  #", "#  #", "#  #", "### ", "#   ", "#   ", "#   "],
    'R': ["### ", "#  #", "#  #", "#  #", "### ", "# # ", "#  #", "#  #"],
    'S': [" ## ", "#  #", "#   ", " ## ", "   #", "   #", "#  #", " ## "],
    'T': ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    'U': ["#  #", "#  #", "#  #", "#  #", "#  #", "#  #", "#  #", " ## "],
    'V': ["#   #", "#   #", "#   #", "#   #", " # # ", " # # ", "  #  ", "  #  "],
    'W': ["#   #", "#   #", "#   #", "#   #", "# # #", "# # #", "## ##", "#   #"],
    'X': ["#   #", "#   #", " # # ", "  #  ", "  #  ", " # # ", "#   #", "#   #"],
    'Y': ["#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    'Z': ["####", "   #", "   #", "  # ", " #  ", "#   ", "#   ", "####"],
    '1': [" # ", "## ", " # ", " # ", " # ", " # ", " # ", "###"],
    '2': [" ## ", "#  #", "   #", "  # ", " #  ", "#   ", "#   ", "####"],
    '3': [" ## ", "#  #", "   #", " ## ", "   #", "   #", "#  #", " ## "],
    '.': [" ", " ", " ", " ", " ", " ", " ", "#"],
    ' ': ["  ", "  ", "  ", "  ", "  ", "  ", "  ", "  "],
}


def text_width(text):
    return sum(len(FONT[c][0]) for c in text) + max(0, len(text) - 1)


# ---- Shapes: predicates over real coordinates (pixel (i, j) covers [i, i+1) x [j, j+1)).

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def circle(cx, cy, r):
    return ellipse(cx, cy, r, r)


def ring(cx, cy, outer, inner):
    return lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    half2 = (width / 2.0) ** 2

    def inside(x, y):
        t = ((x - x0) * dx + (y - y0) * dy) / length2 if length2 else 0.0
        t = min(1.0, max(0.0, t))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= half2
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y):
                if x < xa + (y - ya) * (xb - xa) / (yb - ya):
                    result = not result
        return result
    return inside


def arc(cx, cy, radius, width, start, end):
    """A thick circular arc from angle start to end (degrees, counter-clockwise on screen)."""
    inner, outer = radius - width / 2.0, radius + width / 2.0

    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if not inner * inner <= d2 <= outer * outer:
            return False
        angle = math.degrees(math.atan2(cy - y, x - cx)) % 360.0
        return (angle - start) % 360.0 <= (end - start) % 360.0
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def arrow_head(tip_x, tip_y, direction_deg, length, half_width):
    a = math.radians(direction_deg)
    ux, uy = math.cos(a), -math.sin(a)  # screen y grows downwards
    bx, by = tip_x - ux * length, tip_y - uy * length
    return polygon([(tip_x, tip_y), (bx - uy * half_width, by + ux * half_width),
                    (bx + uy * half_width, by - ux * half_width)])


def silhouette(cx, top, height):
    """A head and shoulders: head, neck and the upper half of a wide ellipse for the shoulders."""
    head_r = height * 0.22
    head_cy = top + head_r
    shoulders_top = top + height * 0.55
    return union(circle(cx, head_cy, head_r),
                 rect(cx - head_r * 0.45, head_cy, cx + head_r * 0.45, shoulders_top + 1),
                 lambda x, y: y <= top + height and
                 ((x - cx) / (height * 0.5)) ** 2 + ((y - (top + height)) /
                                                      (top + height - shoulders_top)) ** 2 <= 1.0)


# ---- Canvas with straight (not premultiplied) colour.

class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.rgb = [(0.0, 0.0, 0.0)] * (width * height)
        self.alpha = [0.0] * (width * height)
        self.to_drawing = lambda x, y: (x, y)

    def fit(self, drawn, box):
        """Shapes filled from now on were drawn for the area `drawn` (x0, y0, x1, y1) and land in
        `box`, scaled alike both ways and centred, so a drawing shrinks clear of its caption."""
        dx0, dy0, dx1, dy1 = drawn
        bx0, by0, bx1, by1 = box
        k = min((bx1 - bx0) / (dx1 - dx0), (by1 - by0) / (dy1 - dy0))
        ox = bx0 + ((bx1 - bx0) - (dx1 - dx0) * k) / 2.0
        oy = by0 + ((by1 - by0) - (dy1 - dy0) * k) / 2.0
        self.to_drawing = lambda x, y: (dx0 + (x - ox) / k, dy0 + (y - oy) / k)

    def coverage(self, shape):
        cover = [0.0] * (self.width * self.height)
        step = 1.0 / SS
        offsets = [(i + 0.5) * step for i in range(SS)]
        for j in range(self.height):
            for i in range(self.width):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if shape(*self.to_drawing(i + ox, j + oy)):
                            hits += 1
                cover[j * self.width + i] = hits / float(SS * SS)
        return cover

    def paint(self, cover, colour, opacity=1.0):
        c = tuple(v / 255.0 for v in colour)
        for k, cov in enumerate(cover):
            a = cov * opacity
            if a <= 0.0:
                continue
            below = self.alpha[k]
            out = a + below * (1.0 - a)
            r0, g0, b0 = self.rgb[k]
            self.rgb[k] = tuple((c[n] * a + (r0, g0, b0)[n] * below * (1.0 - a)) / out
                                for n in range(3))
            self.alpha[k] = out

    def fill(self, shape, colour, opacity=1.0):
        self.paint(self.coverage(shape), colour, opacity)

    def fill_blurred(self, shape, colour, passes=2, within=None):
        """The shape with its edge softened by box blurs of radius 1, kept inside `within`."""
        cover = self.coverage(shape)
        w, h = self.width, self.height
        for _ in range(passes):
            out = [0.0] * (w * h)
            for j in range(h):
                for i in range(w):
                    total = 0.0
                    for dj in (-1, 0, 1):
                        for di in (-1, 0, 1):
                            x, y = min(w - 1, max(0, i + di)), min(h - 1, max(0, j + dj))
                            total += cover[y * w + x]
                    out[j * w + i] = total / 9.0
            cover = out
        if within:
            cover = [c * inside for c, inside in zip(cover, self.coverage(within))]
        self.paint(cover, colour)

    def pixel(self, i, j, colour, opacity=1.0):
        cover = [0.0] * (self.width * self.height)
        cover[j * self.width + i] = 1.0
        self.paint(cover, colour, opacity)

    def text(self, text, x, y, colour=(0, 0, 0), scale=1.0):
        self.to_drawing = lambda x, y: (x, y)
        cells = []
        for c in text:
            glyph = FONT[c]
            for row, line in enumerate(glyph):
                for col, ink in enumerate(line):
                    if ink == '#':
                        cells.append(rect(x + col * scale, y + row * scale,
                                          x + (col + 1) * scale, y + (row + 1) * scale))
            x += (len(glyph[0]) + 1) * scale
        if cells:
            self.fill(union(*cells), colour)

    def centred_text(self, text, y, colour=(0, 0, 0), scale=1.0, left=0.0, right=None):
        right = self.width if right is None else right
        width = text_width(text) * scale
        x = left + (right - left - width) / 2.0
        if scale == int(scale):
            x, y = math.floor(x + 0.5), math.floor(y + 0.5)  # whole pixels keep the font crisp
        self.text(text, x, y, colour, scale)

    def caption(self, *lines):
        """Caption lines at the bottom of a 40-high picture, the last one ending on row 38, two
        blank rows between lines.  Artwork ends above row 30 - 10 x (lines - 1)."""
        y = self.height - 1 - FONT_HEIGHT
        for line in reversed(lines):
            self.centred_text(line, y)
            y -= FONT_HEIGHT + CAPTION_GAP

    def bytes(self):
        colour = bytearray()
        alpha = bytearray()
        for k in range(self.width * self.height):
            a = self.alpha[k]
            alpha.append(int(round(a * 255.0)))
            if alpha[-1] == 0:
                colour += b'\0\0\0'
            else:
                colour += bytes(int(round(min(1.0, max(0.0, v)) * 255.0)) for v in self.rgb[k])
        return bytes(colour), bytes(alpha)


CAPTION_GAP = 2
# Where the artwork of a picture with a two-line caption goes: above the upper line, one blank row
# between them.
ABOVE_TWO_LINES = (0, 0, 40, 40 - 1 - 2 * FONT_HEIGHT - CAPTION_GAP - 1)


# ---- Colours.

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
DARK = (40, 40, 40)
GREY = (150, 150, 150)
LIGHT_GREY = (205, 205, 205)
BLUE = (40, 90, 210)
LIGHT_BLUE = (150, 185, 240)
RED = (205, 40, 35)
GREEN = (45, 170, 60)
YELLOW = (245, 205, 40)
BROWN = (110, 75, 40)
STRIPE_A = (60, 150, 150)
STRIPE_B = (235, 225, 160)


def stripes(canvas, x0, y0, x1, y1, period=5.0):
    canvas.fill(rect(x0, y0, x1, y1), STRIPE_B)
    canvas.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1 and ((x + y) % period) < period / 2,
                STRIPE_A)


# ---- The pictures.

def glyph_caption_block(lines):
    c = Canvas(40, 40)
    top = (40 - (len(lines) * FONT_HEIGHT + (len(lines) - 1) * 3)) // 2
    for n, line in enumerate(lines):
        c.centred_text(line, top + n * (FONT_HEIGHT + 3))
    return c


def picture_1():
    c = Canvas(40, 40)
    c.fit((9, 2, 31, 24), ABOVE_TWO_LINES)
    c.fill(union(ring(20, 13, 11, 8.5), segment(15, 8, 25, 18, 2.6), segment(25, 8, 15, 18, 2.6)),
           BLACK)
    c.caption("RESET", "ALL")
    return c


def picture_2():
    c = Canvas(40, 40)
    c.fit((0, 3, 40, 32), (0, 0, 40, 29))
    c.fill(ellipse(14, 30, 7, 2), GREY)
    c.fill(rect(12.5, 3, 15, 30), BROWN)
    c.fill(polygon([(15, 4), (31, 7), (28, 11), (31, 15), (15, 17)]), RED)
    c.caption("SET")
    return c


def picture_3():
    c = Canvas(40, 40)
    c.fill(rect(7, 5, 8.8, 20), BROWN)
    c.fill(polygon([(8.8, 5.5), (17, 8.5), (8.8, 11.5)]), RED)
    c.fill(union(arc(23, 15, 9, 2.6, 150, 60), arrow_head(12.5, 17.5, 240, 6, 4)), BLUE)
    c.caption("RECALL")
    return c


def picture_4():
    c = Canvas(19, 19)
    c.fill(union(rect(5, 3, 8, 16), rect(5, 3, 14, 6), rect(5, 8.5, 12, 11.5)), BLACK)
    return c


def picture_5():
    c = Canvas(19, 19)
    c.fill(union(rect(8, 3, 11, 16), rect(3, 8, 16, 11)), BLACK)
    return c


def picture_6():
    c = Canvas(19, 19)
    c.fill(rect(3, 8, 16, 11), BLACK)
    return c


def picture_7():
    c = Canvas(33, 40)
    c.fit((2, 1, 31, 27), (0, 0, 33, ABOVE_TWO_LINES[3]))
    c.fill(rect(2, 1, 31, 27), GREY)
    c.fill(rect(3, 2, 30, 26), BLACK)
    c.fill_blurred(silhouette(16.5, 5, 21), WHITE, within=rect(3, 2, 30, 26))
    c.caption("SOFTEN", "MATTE")
    return c


def picture_8():
    return glyph_caption_block(["COMP", "SHOWS", "LAYER"])


def picture_9():
    return glyph_caption_block(["COMP", "SHOWS", "COLOR"])


def picture_10():
    c = Canvas(40, 40)
    stripes(c, 5, 2, 35, 30)
    c.fill(silhouette(20, 6, 24), BLACK)
    c.caption("COMP")
    return c


def picture_11():
    c = Canvas(40, 40)
    c.fill(rect(5, 2, 35, 30), GREY)
    c.fill(silhouette(20, 6, 24), WHITE)
    c.caption("MASK")
    return c


def picture_12():
    c = Canvas(40, 40)
    c.fill(rect(5, 2, 35, 30), BLUE)
    c.fill(silhouette(20, 6, 24), BLACK)
    c.caption("FRONT")
    return c


def picture_13():
    c = Canvas(40, 40)
    stripes(c, 5, 2, 35, 30)
    c.caption("BACK")
    return c


def picture_14():
    c = Canvas(85, 25)
    c.centred_text("AUTOMASK", (25 - 2 * FONT_HEIGHT) / 2.0, scale=2.0)
    return c


def step_picture(step, what, draw_icon):
    c = Canvas(85, 25)
    draw_icon(c)
    top = (25 - 2 * FONT_HEIGHT - 3) // 2
    c.centred_text("STEP " + step, top, left=26, right=84)
    c.centred_text(what, top + FONT_HEIGHT + 3, left=26, right=84)
    return c


def picture_15():
    return step_picture("1", "SELECT FG", lambda c: c.fill(
        union(ring(12.5, 12.5, 10, 7.8), rect(11.3, 7, 13.7, 18), rect(7, 11.3, 18, 13.7)), BLACK))


def picture_16():
    return step_picture("2", "CLEAN BG", lambda c: stripes(c, 3, 3, 22, 22))


def picture_17():
    def icon(c):
        c.fill(rect(3, 3, 22, 22), BLUE)
        c.fill(silhouette(12.5, 6, 16), BLACK)
    return step_picture("3", "CLEAN FG", icon)


def word_picture(word, strike=False):
    c = Canvas(40, 20)
    c.centred_text(word, (20 - FONT_HEIGHT) / 2.0)
    if strike:
        c.fill(segment(4, 16.5, 36, 3.5, 1.6), BLACK)
    return c


def picture_18():
    return word_picture("BOX")


def picture_19():
    return word_picture("POINT")


def picture_20():
    c = Canvas(40, 40)
    c.fit((4, 2.4, 36, 26.6), ABOVE_TWO_LINES)
    c.fill(rect(4, 10, 36, 19), GREY)
    c.fill(segment(9, 25, 31, 4, 3.2), DARK)
    c.caption("RESTORE", "DETAIL")
    return c


def picture_21():
    c = Canvas(40, 40)
    c.fit((4, 1, 36, 27), ABOVE_TWO_LINES)
    c.fill(rect(4, 1, 36, 27), BLACK)
    sponge = union(rect(10, 8, 30, 20), circle(10, 14, 6), circle(30, 14, 6),
                   ellipse(20, 8, 10, 3), ellipse(20, 20, 10, 3))
    pores = union(circle(13, 11, 1.3), circle(19, 9.5, 1.0), circle(25, 12, 1.4),
                  circle(16, 17, 1.1), circle(23, 18, 1.2), circle(29, 16, 0.9),
                  circle(8, 15, 1.0))
    c.fill(minus(sponge, pores), GREY)
    c.caption("MATTE", "SPONGE")
    return c


def picture_22():
    c = Canvas(40, 40)
    c.fit((6, 3, 34, 26), ABOVE_TWO_LINES)
    c.fill(rect(6, 3, 34, 26), BLACK)
    c.fill(polygon([(7, 4), (33, 4), (7, 25)]), (70, 70, 70))
    c.fill(polygon([(33, 4), (33, 25), (7, 25)]), (225, 225, 225))
    c.caption("MAKE", "TRANSP.")
    return c


def picture_23():
    c = Canvas(85, 25)
    # An open-ended spanner: a handle and a head with a notch cut into its end.
    head = minus(circle(8, 8, 6), union(polygon([(8, 8), (1, 5.5), (3.5, 0.5)]),
                                        circle(6.5, 6.5, 2.3)))
    c.fill(minus(union(segment(10, 10, 20, 20, 4.2), head, circle(20, 20, 2.8)),
                 circle(20, 20, 1.0)), BLACK)
    c.centred_text("FINE TUNE", (25 - FONT_HEIGHT) / 2.0, left=26, right=84)
    return c


def grain_picture(word, dot_radius):
    c = Canvas(40, 20)
    top = (20 - FONT_HEIGHT) // 2
    if dot_radius:
        total = 2 * dot_radius + 2.5 + text_width(word)
        x = (40 - total) / 2.0
        c.fill(circle(x + dot_radius, 10, dot_radius), BLACK)
        c.text(word, math.floor(x + 2 * dot_radius + 2.5 + 0.5), top)
    else:
        c.centred_text(word, top)
    return c


def picture_24():
    return grain_picture("OFF", 0)


def picture_25():
    return grain_picture("SMALL", 1.4)


def picture_26():
    return grain_picture("MED", 2.6)


def picture_27():
    return grain_picture("LARGE", 3.8)


def picture_28():
    return word_picture("TRANS")


def picture_29():
    return word_picture("SPLIT", strike=True)


def picture_30():
    c = Canvas(40, 40)
    c.fit((5, 2, 36, 25), ABOVE_TWO_LINES)
    c.fill(polygon([(18, 2), (31, 25), (5, 25)]), GREEN)
    c.fill(rect(24, 19, 36, 23), GREY)
    c.caption("SPILL", "MINUS")
    return c


def picture_31():
    c = Canvas(40, 40)
    c.fill(rect(8, 3, 32, 27), RED)
    c.fill(union(segment(13, 8, 27, 22, 3), segment(27, 8, 13, 22, 3)), BLACK)
    c.caption("RESET")
    return c


def hand(grow):
    g = grow
    return union(ellipse(20, 21, 7.5 + g, 7 + g),
                 segment(14.5, 17, 14.5, 6.5, 3.2 + 2 * g),
                 segment(18.5, 16, 18.5, 3.5, 3.2 + 2 * g),
                 segment(22.5, 16, 22.5, 4.5, 3.2 + 2 * g),
                 segment(26, 18, 26.5, 8, 3.0 + 2 * g),
                 segment(14, 23, 7.5, 16, 3.4 + 2 * g))


def picture_32():
    c = Canvas(40, 40)
    c.fill(hand(0.8), (90, 70, 10))
    c.fill(hand(0.0), YELLOW)
    c.caption("PAN")
    return c


def picture_33():
    c = Canvas(40, 40)
    cx, cy = 20, 15
    c.fill(union(segment(7, cy, 33, cy, 2.4), segment(cx, 3, cx, 27, 2.4),
                 arrow_head(36, cy, 0, 6, 4.5), arrow_head(4, cy, 180, 6, 4.5),
                 arrow_head(cx, 1, 90, 6, 4.5), arrow_head(cx, 29, 270, 6, 4.5)), BLACK)
    c.caption("POSITION")
    return c


def picture_34():
    c = Canvas(40, 40)
    c.fill(union(arc(20, 16, 9.5, 2.8, 120, 60), arrow_head(19.0, 4.5, 150, 7, 4.5)), BLACK)
    c.caption("ROTATE")
    return c


def picture_35():
    c = Canvas(40, 40)
    c.fill(rect(4, 10, 28, 30), (20, 60, 150))
    c.fill(rect(5.2, 11.2, 26.8, 28.8), LIGHT_BLUE)
    c.fill(rect(4, 17, 17, 30), (20, 60, 150))
    c.fill(rect(5.2, 18.2, 15.8, 28.8), BLUE)
    c.fill(union(segment(12, 24, 31, 5, 2.2), arrow_head(35, 1, 45, 7, 4)), BLACK)
    c.caption("SCALE")
    return c


def picture_36():
    c = Canvas(40, 40)
    c.fill(circle(17, 12, 8), LIGHT_BLUE, 0.7)
    c.fill(union(ring(17, 12, 10, 7.8), segment(24.5, 19.5, 32, 27, 4.2)), DARK)
    c.caption("ZOOM")
    return c


def picture_37():
    c = Canvas(40, 40)
    c.fit((7, 7, 33, 26), ABOVE_TWO_LINES)
    side = union(ellipse(20, 21, 13, 5), rect(7, 12, 33, 21))
    c.fill(side, (25, 120, 40))
    c.fill(ellipse(20, 12, 13, 5), (120, 215, 110))
    pores = union(circle(15, 11, 0.9), circle(21, 13.5, 0.9), circle(26, 10.5, 0.9),
                  circle(19, 9.5, 0.7), circle(11, 13, 0.7), circle(29, 13, 0.7))
    c.fill(pores, (25, 120, 40))
    c.caption("SPILL", "SPONGE")
    return c


def picture_38():
    c = Canvas(40, 40)
    bottom = ABOVE_TWO_LINES[3]
    c.fill(rect(5, 0, 35, bottom), DARK)
    seed = 12345
    for j in range(1, bottom - 1):
        for i in range(6, 34):
            seed = (seed * 1103515245 + 12345) & 0x7fffffff
            level = 80 + (seed >> 16) % 150
            c.pixel(i, j, (level, level, level))
    c.caption("REMOVE", "NOISE")
    return c


def picture_39():
    return glyph_caption_block(["COMP", "SHOWS", "BD"])


# ---- Output.

def write_png(path, width, height, colour, alpha):
    rows = bytearray()
    for j in range(height):
        rows.append(0)
        for i in range(width):
            k = j * width + i
            rows += colour[3 * k:3 * k + 3] + alpha[k:k + 1]

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        out.write(chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    preview = None
    if len(sys.argv) == 3 and sys.argv[1] == "--png":
        preview = sys.argv[2]
        os.makedirs(preview, exist_ok=True)
    for n in range(1, 40):
        canvas = globals()["picture_%d" % n]()
        colour, alpha = canvas.bytes()
        w, h = canvas.width, canvas.height
        with open(os.path.join(here, "picture_%02d_colour.ppm" % n), "wb") as out:
            out.write(b"P6\n%d %d\n255\n" % (w, h) + colour)
        with open(os.path.join(here, "picture_%02d_alpha.pgm" % n), "wb") as out:
            out.write(b"P5\n%d %d\n255\n" % (w, h) + alpha)
        if preview:
            write_png(os.path.join(preview, "picture_%02d.png" % n), w, h, colour, alpha)


if __name__ == "__main__":
    main()
