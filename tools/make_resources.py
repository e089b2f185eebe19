#!/usr/bin/env python3
"""Draws the window's pictures: the skin, the two button faces and the icon.

Run from anywhere:  python3 tools/make_resources.py
Writes resources/skin.bmp, exit.bmp, execute.bmp and rodediz.ico, and the
desktop's icon in its sizes (resources/icons/vane-upgrade-gui-N.png). Standard
library only; the output is the same byte for byte on every run.

The skin is stretched over the client area, so its panels are placed where
the dialog's controls land: template coordinates (dialog units) times the
pixels per unit of a 656 by 441 client. Every static the window shows must sit
on plain white, since those statics paint with a white brush.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(HERE, "..", "resources")

SKIN_W, SKIN_H = 656, 441
DIALOG_W, DIALOG_H = 375, 221  # dialog units of the template
UNIT_X, UNIT_Y = SKIN_W / DIALOG_W, SKIN_H / DIALOG_H

WHITE = (255, 255, 255)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Image:
    """An RGB picture of floats with an alpha channel, drawn by coverage."""

    def __init__(self, w, h, colour=(0, 0, 0), alpha=1.0):
        self.w, self.h = w, h
        self.rgb = [list(colour) for _ in range(w * h)]
        self.alpha = [alpha] * (w * h)

    def blend(self, x, y, colour, a):
        if a <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        i = y * self.w + x
        p = self.rgb[i]
        old = self.alpha[i]
        out = a + old * (1.0 - a)
        if out <= 0.0:
            return
        for k in range(3):
            p[k] = (colour[k] * a + p[k] * old * (1.0 - a)) / out
        self.alpha[i] = out

    def pixel(self, x, y):
        return tuple(int(round(max(0.0, min(255.0, c)))) for c in self.rgb[y * self.w + x])

    def pixel_alpha(self, x, y):
        return int(round(clamp01(self.alpha[y * self.w + x]) * 255))

    # --- filling by a signed distance (negative inside), anti-aliased ---
    def fill_sdf(self, box, sdf, paint, opacity=1.0):
        x0, y0, x1, y1 = (int(math.floor(box[0])) - 1, int(math.floor(box[1])) - 1,
                          int(math.ceil(box[2])) + 1, int(math.ceil(box[3])) + 1)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                cover = clamp01(0.5 - sdf(x + 0.5, y + 0.5))
                if cover > 0.0:
                    colour = paint(x, y) if callable(paint) else paint
                    self.blend(x, y, colour, cover * opacity)

    def fill_rect(self, x0, y0, x1, y1, paint):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.blend(x, y, paint(x, y) if callable(paint) else paint, 1.0)

    def rounded_rect(self, x0, y0, x1, y1, radius, paint, opacity=1.0):
        self.fill_sdf((x0, y0, x1, y1), rounded_rect_sdf(x0, y0, x1, y1, radius), paint, opacity)

    def soft_shadow(self, x0, y0, x1, y1, radius, blur, colour, strength):
        sdf = rounded_rect_sdf(x0, y0, x1, y1, radius)
        for y in range(max(0, int(y0 - blur) - 1), min(self.h, int(y1 + blur) + 2)):
            for x in range(max(0, int(x0 - blur) - 1), min(self.w, int(x1 + blur) + 2)):
                d = sdf(x + 0.5, y + 0.5)
                t = clamp01(1.0 - (d + blur) / (2.0 * blur))
                self.blend(x, y, colour, strength * t * t * (3 - 2 * t))

    def polygon(self, points, paint, samples=4):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        step = 1.0 / samples
        for y in range(max(0, int(min(ys))), min(self.h, int(math.ceil(max(ys))) + 1)):
            for x in range(max(0, int(min(xs))), min(self.w, int(math.ceil(max(xs))) + 1)):
                inside = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if point_in_polygon(x + (sx + 0.5) * step, y + (sy + 0.5) * step, points):
                            inside += 1
                if inside:
                    self.blend(x, y, paint, inside / (samples * samples))

    # --- strokes: round-capped segments, coverage kept per pixel ---
    def strokes(self, segments, width, paint, opacity=1.0):
        cover = {}
        half = width / 2.0
        for (ax, ay), (bx, by) in segments:
            x0, x1 = int(min(ax, bx) - half) - 1, int(max(ax, bx) + half) + 2
            y0, y1 = int(min(ay, by) - half) - 1, int(max(ay, by) + half) + 2
            for y in range(max(0, y0), min(self.h, y1)):
                for x in range(max(0, x0), min(self.w, x1)):
                    c = clamp01(half + 0.5 - segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by))
                    if c > cover.get((x, y), 0.0):
                        cover[(x, y)] = c
        for (x, y), c in cover.items():
            self.blend(x, y, paint(x, y) if callable(paint) else paint, c * opacity)

    def arc(self, cx, cy, r, start_deg, end_deg, width, paint, pieces=48):
        pts = []
        for i in range(pieces + 1):
            a = math.radians(start_deg + (end_deg - start_deg) * i / pieces)
            pts.append((cx + r * math.cos(a), cy - r * math.sin(a)))
        self.strokes(list(zip(pts, pts[1:])), width, paint)


def rounded_rect_sdf(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hw, hh = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

    def sdf(px, py):
        qx, qy = abs(px - cx) - hw, abs(py - cy) - hh
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius
    return sdf


def circle_sdf(cx, cy, r):
    return lambda px, py: math.hypot(px - cx, py - cy) - r


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def point_in_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def vertical(top, bottom, y0, y1):
    span = max(1, y1 - y0)
    return lambda x, y: mix(top, bottom, clamp01((y - y0) / span))


# --- a stroke font: each glyph is polylines on a 4 by 6 grid, corners chamfered ---
_O = [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)]]
_P = [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)]]
GLYPHS = {
    "A": [[(0, 6), (0, 1), (1, 0), (3, 0), (4, 1), (4, 6)], [(0, 3.5), (4, 3.5)]],
    "B": [[(0, 3), (3, 3), (4, 2), (4, 1), (3, 0), (0, 0), (0, 6), (3, 6), (4, 5), (4, 4), (3, 3)]],
    "C": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5)]],
    "D": [[(0, 0), (3, 0), (4, 1), (4, 5), (3, 6), (0, 6), (0, 0)]],
    "E": [[(4, 0), (0, 0), (0, 6), (4, 6)], [(0, 3), (3, 3)]],
    "F": [[(4, 0), (0, 0), (0, 6)], [(0, 3), (3, 3)]],
    "G": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5), (4, 3), (2.2, 3)]],
    "H": [[(0, 0), (0, 6)], [(4, 0), (4, 6)], [(0, 3), (4, 3)]],
    "I": [[(1, 0), (3, 0)], [(2, 0), (2, 6)], [(1, 6), (3, 6)]],
    "J": [[(4, 0), (4, 5), (3, 6), (1, 6), (0, 5)]],
    "K": [[(0, 0), (0, 6)], [(4, 0), (0, 4)], [(1.5, 2.5), (4, 6)]],
    "L": [[(0, 0), (0, 6), (4, 6)]],
    "M": [[(0, 6), (0, 0), (2, 3), (4, 0), (4, 6)]],
    "N": [[(0, 6), (0, 0), (4, 6), (4, 0)]],
    "O": _O,
    "P": _P,
    "Q": _O + [[(2.5, 4.5), (4, 6)]],
    "R": _P + [[(2, 3), (4, 6)]],
    "S": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 2), (1, 3), (3, 3), (4, 4), (4, 5), (3, 6), (1, 6), (0, 5)]],
    "T": [[(0, 0), (4, 0)], [(2, 0), (2, 6)]],
    "U": [[(0, 0), (0, 5), (1, 6), (3, 6), (4, 5), (4, 0)]],
    "V": [[(0, 0), (2, 6), (4, 0)]],
    "W": [[(0, 0), (1, 6), (2, 2), (3, 6), (4, 0)]],
    "X": [[(0, 0), (4, 6)], [(4, 0), (0, 6)]],
    "Y": [[(0, 0), (2, 3), (4, 0)], [(2, 3), (2, 6)]],
    "Z": [[(0, 0), (4, 0), (0, 6), (4, 6)]],
    "0": _O + [[(1, 4.5), (3, 1.5)]],
    "1": [[(1, 1), (2, 0), (2, 6)], [(1, 6), (3, 6)]],
    "2": [[(0, 1), (1, 0), (3, 0), (4, 1), (4, 2), (0, 6), (4, 6)]],
    "3": [[(0, 1), (1, 0), (3, 0), (4, 1), (4, 2), (3, 3), (4, 4), (4, 5), (3, 6), (1, 6), (0, 5)], [(1.5, 3), (3, 3)]],
    "4": [[(3, 6), (3, 0), (0, 4), (4, 4)]],
    "5": [[(4, 0), (0, 0), (0, 3), (3, 3), (4, 4), (4, 5), (3, 6), (1, 6), (0, 5)]],
    "6": [[(3.5, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5), (4, 4), (3, 3), (0, 3)]],
    "7": [[(0, 0), (4, 0), (1.5, 6)]],
    "8": [[(1, 3), (0, 2), (0, 1), (1, 0), (3, 0), (4, 1), (4, 2), (3, 3), (1, 3), (0, 4), (0, 5), (1, 6),
           (3, 6), (4, 5), (4, 4), (3, 3)]],
    "9": [[(4, 3), (1, 3), (0, 2), (0, 1), (1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (0.5, 6)]],
    " ": [],
    "-": [[(1, 3), (3, 3)]],
    ":": [[(2, 1.5), (2, 1.5)], [(2, 4.5), (2, 4.5)]],
    ".": [[(2, 6), (2, 6)]],
    "/": [[(4, 0), (0, 6)]],
}
ADVANCE = 6  # grid units from one glyph to the next


def text_width(text, unit):
    return (len(text) * ADVANCE - 2) * unit if text else 0


def draw_text(img, text, x, y, unit, width, paint):
    """Text with its top-left grid corner at (x, y); a unit is one grid step in pixels."""
    segments = []
    for n, ch in enumerate(text.upper()):
        ox = x + n * ADVANCE * unit
        for line in GLYPHS[ch]:
            pts = [(ox + gx * unit, y + gy * unit) for gx, gy in line]
            if len(pts) == 1:
                pts = pts * 2
            segments.extend(zip(pts, pts[1:]))
    img.strokes(segments, width, paint)


def draw_text_centred(img, text, cx, y, unit, width, paint):
    draw_text(img, text, cx - text_width(text, unit) / 2.0, y, unit, width, paint)


def up_arrow(cx, top, bottom, head_w, shaft_w, head_h):
    """Polygon of an upward arrow."""
    return [(cx, top), (cx + head_w / 2, top + head_h), (cx + shaft_w / 2, top + head_h),
            (cx + shaft_w / 2, bottom), (cx - shaft_w / 2, bottom), (cx - shaft_w / 2, top + head_h),
            (cx - head_w / 2, top + head_h)]


# --- the skin ---

def control_pixels(x, y, w, h):
    """A control's rectangle in skin pixels, rounded outwards."""
    return (int(math.floor(x * UNIT_X)), int(math.floor(y * UNIT_Y)),
            int(math.ceil((x + w) * UNIT_X)), int(math.ceil((y + h) * UNIT_Y)))


# The statics the window shows (template rectangles, dialog units); each must
# lie on white with at least PANEL_MARGIN pixels to spare.
SHOWN_STATICS = {
    1086: (28, 69, 25, 8), 1001: (53, 69, 72, 8), 1020: (125, 69, 35, 8), 1019: (165, 69, 114, 8),
    1048: (24, 106, 76, 8), 1039: (104, 107, 72, 8), 1049: (39, 117, 61, 8), 1045: (104, 117, 54, 8),
    1078: (126, 134, 112, 8), 1002: (282, 156, 71, 8),
}
PANEL_MARGIN = 4

NAVY_TOP, NAVY_BOTTOM = (20, 46, 92), (36, 80, 140)
ACCENT = (72, 152, 222)
CAPTION_INK = (66, 92, 132)
PANEL_BORDER = (194, 206, 223)
SHADOW = (24, 44, 80)

HEADER_BOTTOM = 96
DEVICE_PANEL = (24, 122, 634, 168)      # status and model row
FIRMWARE_PANEL = (24, 196, 634, 346)    # image, version, action button, progress
PROGRESS_DIVIDER_Y = 299


def panel(img, box, radius=9):
    x0, y0, x1, y1 = box
    img.soft_shadow(x0, y0 + 2, x1, y1 + 2, radius, 6, SHADOW, 0.16)
    img.rounded_rect(x0, y0, x1, y1, radius, PANEL_BORDER)
    img.rounded_rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, radius - 1, WHITE)


def badge(img, cx, cy, r):
    """The product's mark: an upward arrow in a ring."""
    img.fill_sdf((cx - r, cy - r, cx + r, cy + r), circle_sdf(cx, cy, r), (255, 255, 255), 0.10)
    img.arc(cx, cy, r - 1.5, 0, 360, 2.4, (190, 216, 246), pieces=96)
    img.polygon(up_arrow(cx, cy - r * 0.58, cy + r * 0.32, r * 0.86, r * 0.34, r * 0.44), WHITE)
    img.strokes([((cx - r * 0.42, cy + r * 0.52), (cx + r * 0.42, cy + r * 0.52))], 3.2, WHITE)


def make_skin():
    img = Image(SKIN_W, SKIN_H)
    img.fill_rect(0, 0, SKIN_W, SKIN_H, vertical((234, 240, 247), (206, 217, 232), 0, SKIN_H))

    # Header band with the product's name.
    img.fill_rect(0, 0, SKIN_W, HEADER_BOTTOM, vertical(NAVY_TOP, NAVY_BOTTOM, 0, HEADER_BOTTOM))
    for cx, cy, r, a in ((600, -40, 150, 0.05), (470, 150, 120, 0.035)):
        img.fill_sdf((cx - r, cy - r, cx + r, cy + r), circle_sdf(cx, cy, r), WHITE, a)
    img.fill_rect(0, HEADER_BOTTOM, SKIN_W, HEADER_BOTTOM + 3, ACCENT)
    img.fill_rect(0, HEADER_BOTTOM + 3, SKIN_W, HEADER_BOTTOM + 4, (170, 196, 226))
    draw_text(img, "TALMO", 34, 20, 4.4, 3.4, WHITE)
    draw_text(img, "FIRMWARE UPGRADE", 34 + text_width("TALMO", 4.4) + 22, 33.2, 2.6, 2.2, (204, 224, 248))
    draw_text(img, "FOR MIRRA VANE TRANSMITTERS", 35, 66, 1.7, 1.5, (150, 186, 230))
    badge(img, 598, 48, 30)

    # Section captions and the panels that carry the controls.
    draw_text(img, "DEVICE", 28, 108, 1.6, 1.5, CAPTION_INK)
    panel(img, DEVICE_PANEL)
    draw_text(img, "FIRMWARE", 28, 181, 1.6, 1.5, CAPTION_INK)
    panel(img, FIRMWARE_PANEL)
    img.fill_rect(40, PROGRESS_DIVIDER_Y, 618, PROGRESS_DIVIDER_Y + 1, (226, 232, 241))

    # A reminder under the panels.
    draw_text_centred(img, "KEEP THE TRANSMITTER CONNECTED UNTIL THE UPGRADE HAS FINISHED",
                      SKIN_W / 2, 386, 1.45, 1.3, (92, 108, 134))
    img.fill_rect(0, SKIN_H - 6, SKIN_W, SKIN_H, vertical(ACCENT, NAVY_BOTTOM, SKIN_H - 6, SKIN_H))

    check_statics_on_white(img)
    return img


def check_statics_on_white(img):
    for cid, rect in SHOWN_STATICS.items():
        x0, y0, x1, y1 = control_pixels(*rect)
        for y in range(y0 - PANEL_MARGIN, y1 + PANEL_MARGIN):
            for x in range(x0 - PANEL_MARGIN, x1 + PANEL_MARGIN):
                if img.pixel(x, y) != WHITE:
                    raise SystemExit(f"static {cid}: skin pixel ({x},{y}) is {img.pixel(x, y)}, not white")


# --- the button pictures ---

def make_execute():
    w, h = 106, 81
    img = Image(w, h)
    img.fill_rect(0, 0, w, h, vertical((64, 132, 214), (28, 84, 162), 0, h))
    img.fill_rect(0, 0, w, 1, (128, 178, 236))
    img.fill_rect(0, h - 1, w, h, (22, 66, 130))

    # A chip with its pins, an arrow rising into it.
    cx, top, size = w / 2.0, 11.0, 34.0
    left, right, bottom = cx - size / 2, cx + size / 2, top + size
    pins = []
    for i in range(4):
        py = top + 6.5 + i * 7.0
        pins += [((left - 6, py), (left, py)), ((right, py), (right + 6, py))]
    img.strokes(pins, 2.6, (214, 230, 250))
    img.rounded_rect(left, top, right, bottom, 4, (242, 247, 253))
    img.rounded_rect(left + 3, top + 3, right - 3, bottom - 3, 2.5, (212, 228, 248))
    img.polygon(up_arrow(cx, top + 5, bottom - 5, 20, 8, 10), (28, 92, 176))
    draw_text_centred(img, "UPGRADE", cx, 57, 2.0, 2.0, WHITE)
    return img


def make_exit():
    w, h = 89, 22
    img = Image(w, h)
    img.fill_rect(0, 0, w, h, vertical((252, 252, 253), (222, 227, 234), 0, h))
    img.rounded_rect(0, 0, w, h, 4, (150, 162, 180))
    img.rounded_rect(1, 1, w - 1, h - 1, 3, vertical((252, 252, 253), (222, 227, 234), 0, h))
    # Power symbol, then the word.
    unit = 1.75
    word = text_width("EXIT", unit)
    icon = 12
    x = (w - (icon + 7 + word)) / 2.0
    cx, cy = x + icon / 2.0, h / 2.0
    red = (196, 58, 48)
    img.arc(cx, cy + 0.5, 5.0, 125, 415, 1.9, red)
    img.strokes([((cx, cy - 6.0), (cx, cy - 0.5))], 1.9, red)
    draw_text(img, "EXIT", x + icon + 7, (h - 6 * unit) / 2.0, unit, 1.7, (40, 52, 74))
    return img


def make_icon(size):
    img = Image(size, size, (0, 0, 0), 0.0)
    s = size / 32.0
    img.rounded_rect(1 * s, 1 * s, 31 * s, 31 * s, 6 * s, vertical((70, 140, 222), (26, 76, 150), 0, size))
    img.polygon(up_arrow(16 * s, 5 * s, 22 * s, 17 * s, 7 * s, 8.5 * s), WHITE)
    img.fill_sdf((7 * s, 24 * s, 25 * s, 27.5 * s), rounded_rect_sdf(7 * s, 24 * s, 25 * s, 27.5 * s, 1.2 * s), WHITE)
    return img


# --- file formats ---

def bgra_rows_bottom_up(img, with_alpha):
    rows = []
    for y in range(img.h - 1, -1, -1):
        row = bytearray()
        for x in range(img.w):
            r, g, b = img.pixel(x, y)
            a = img.pixel_alpha(x, y) if with_alpha else 255
            if with_alpha and a == 0:
                r = g = b = 0
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    return b"".join(rows)


def info_header(w, h, image_bytes):
    # BITMAPINFOHEADER: 32 bits per pixel, BI_RGB, 2835 pixels per metre (72 dpi).
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, image_bytes, 2835, 2835, 0, 0)


def write_bmp(path, img):
    pixels = bgra_rows_bottom_up(img, with_alpha=False)
    offset = 14 + 40
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info_header(img.w, img.h, len(pixels)) + pixels)


def icon_image(img):
    pixels = bgra_rows_bottom_up(img, with_alpha=True)
    mask_stride = ((img.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(img.h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(img.w):
            if img.pixel_alpha(x, y) == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    # An icon's header counts the colour image and the mask: twice the height.
    return info_header(img.w, img.h * 2, len(pixels) + len(mask)) + pixels + bytes(mask)


def write_ico(path, images):
    blobs = [icon_image(img) for img in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", img.w % 256, img.h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def write_png(path, img):
    # RGBA, 8 bits a channel, no filter on any row; no time stamp, so the file never changes.
    raw = bytearray()
    for y in range(img.h):
        raw.append(0)
        for x in range(img.w):
            r, g, b = img.pixel(x, y)
            a = img.pixel_alpha(x, y)
            raw += bytes((r, g, b, a) if a else (0, 0, 0, 0))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", img.w, img.h, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
                chunk(b"IEND", b""))


DESKTOP_ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def main():
    write_bmp(os.path.join(RESOURCES, "skin.bmp"), make_skin())
    write_bmp(os.path.join(RESOURCES, "execute.bmp"), make_execute())
    write_bmp(os.path.join(RESOURCES, "exit.bmp"), make_exit())
    write_ico(os.path.join(RESOURCES, "rodediz.ico"), [make_icon(16), make_icon(32)])
    os.makedirs(os.path.join(RESOURCES, "icons"), exist_ok=True)
    for size in DESKTOP_ICON_SIZES:
        write_png(os.path.join(RESOURCES, "icons", "vane-upgrade-gui-%d.png" % size), make_icon(size))


if __name__ == "__main__":
    main()
