#!/usr/bin/python3
"""Draw every picture of Orvex into res/ and write res/orvex.qrc.

Regenerate:   /usr/bin/python3 res/artwork/make_artwork.py      (needs python3-pil, fonts-noto-cjk)
Check:        /usr/bin/python3 res/artwork/check_artwork.py

The output is deterministic: the same inputs give the same bytes on every run.
Shapes are drawn at four times their size and reduced, text is set at full size
with Noto Sans CJK SC (found through fc-match) so that Chinese captions are crisp.

Theme: dark grey frame and left column with white text, light content cards for
the pages (their widgets use the default dark text), one blue accent.
"""

import math
import os
import subprocess
import sys
from xml.sax.saxutils import quoteattr, escape

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.dirname(HERE)

# ---------------------------------------------------------------- palette
WIN = (50, 50, 50)            # window colour behind everything
COLUMN = (37, 38, 41)          # left column
COLUMN_LINE = (27, 28, 30)
TITLE_TOP = (33, 34, 37)
TITLE_BOTTOM = (25, 26, 28)
TEXT = (238, 241, 245)
TEXT_DIM = (178, 184, 192)
ICON_DIM = (150, 157, 167)
BLUE = (0, 145, 230)
BLUE_TOP = (24, 164, 245)
BLUE_BOTTOM = (0, 112, 196)
BLUE_DARK = (0, 88, 160)
BLUE_LIGHT = (90, 200, 255)
CARD = (243, 245, 248)
CARD_LINE = (203, 209, 217)
WHITE = (255, 255, 255)
INK = (52, 58, 66)
INK_DIM = (104, 111, 122)
GREY_FILL_TOP = (238, 240, 243)
GREY_FILL_BOTTOM = (220, 224, 229)
GREY_LINE = (176, 182, 191)
RED = (222, 64, 58)
RED_TOP = (236, 92, 84)
RED_BOTTOM = (196, 46, 42)
GREEN = (38, 176, 92)
ORANGE = (240, 146, 24)
ORANGE_TOP = (250, 168, 58)
ORANGE_BOTTOM = (222, 118, 10)
YELLOW = (255, 198, 36)

SS = 4  # supersampling factor for shapes


def rgba(c, a=255):
    return (c[0], c[1], c[2], a if len(c) == 3 else c[3])


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


# ---------------------------------------------------------------- fonts
_font_files = {}


def _font_file(style):
    if style not in _font_files:
        pattern = "Noto Sans CJK SC:style=" + style
        out = subprocess.run(["fc-match", "-f", "%{file}\n%{index}\n%{family}", pattern],
                             check=True, capture_output=True, text=True).stdout.split("\n")
        path, index, family = out[0], int(out[1] or 0), out[2]
        if "Noto Sans CJK" not in family:
            sys.exit("make_artwork: Noto Sans CJK SC not found (fc-match gave %r); "
                     "install fonts-noto-cjk" % family)
        _font_files[style] = (path, index)
    return _font_files[style]


_fonts = {}


def font(size, bold=False):
    key = (size, bold)
    if key not in _fonts:
        path, index = _font_file("Bold" if bold else "Regular")
        _fonts[key] = ImageFont.truetype(path, size, index=index,
                                         layout_engine=ImageFont.Layout.BASIC)
    return _fonts[key]


# ---------------------------------------------------------------- drawing
class Art:
    """A picture being drawn. Coordinates are in final pixels (floats allowed);
    a pixel i spans [i, i + 1]. Every shape is blended over what is there."""

    def __init__(self, w, h, bg=None, ss=SS):
        self.w, self.h, self.s = w, h, ss
        self.im = Image.new("RGBA", (w * ss, h * ss), rgba(bg) if bg else (0, 0, 0, 0))

    # -- internals
    def _paint(self, bbox, paint):
        s = self.s
        x0 = max(0, int(math.floor(bbox[0] * s)) - 2)
        y0 = max(0, int(math.floor(bbox[1] * s)) - 2)
        x1 = min(self.w * s, int(math.ceil(bbox[2] * s)) + 2)
        y1 = min(self.h * s, int(math.ceil(bbox[3] * s)) + 2)
        if x1 <= x0 or y1 <= y0:
            return
        layer = Image.new("RGBA", (x1 - x0, y1 - y0), (0, 0, 0, 0))
        d = ImageDraw.Draw(layer)

        def P(x, y):
            return (x * s - x0, y * s - y0)

        def B(box):
            return [box[0] * s - x0, box[1] * s - y0, box[2] * s - x0 - 1, box[3] * s - y0 - 1]

        paint(d, P, B, s)
        self.im.alpha_composite(layer, dest=(x0, y0))

    def _mask_paint(self, bbox, shape, source):
        """Blend `source` (an RGBA image of the whole canvas) through a shape mask."""
        s = self.s
        mask = Image.new("L", self.im.size, 0)
        d = ImageDraw.Draw(mask)
        shape(d, lambda x, y: (x * s, y * s),
              lambda b: [b[0] * s, b[1] * s, b[2] * s - 1, b[3] * s - 1], s)
        src = source.copy()
        a = src.getchannel("A")
        a = Image.composite(a, Image.new("L", a.size, 0), mask)
        src.putalpha(a)
        self.im.alpha_composite(src)

    # -- shapes
    def rect(self, box, fill):
        self._paint(box, lambda d, P, B, s: d.rectangle(B(box), fill=rgba(fill)))

    def rrect(self, box, r, fill=None, outline=None, width=1.0):
        def paint(d, P, B, s):
            d.rounded_rectangle(B(box), radius=r * s, fill=rgba(fill) if fill else None,
                                outline=rgba(outline) if outline else None,
                                width=int(round(width * s)) if outline else 0)
        self._paint(box, paint)

    def ellipse(self, box, fill=None, outline=None, width=1.0):
        def paint(d, P, B, s):
            d.ellipse(B(box), fill=rgba(fill) if fill else None,
                      outline=rgba(outline) if outline else None,
                      width=int(round(width * s)) if outline else 0)
        self._paint(box, paint)

    def circle(self, cx, cy, r, fill=None, outline=None, width=1.0):
        self.ellipse((cx - r, cy - r, cx + r, cy + r), fill, outline, width)

    def polygon(self, pts, fill):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self._paint((min(xs), min(ys), max(xs), max(ys)),
                    lambda d, P, B, s: d.polygon([P(*p) for p in pts], fill=rgba(fill)))

    def line(self, pts, color, width=1.0, caps=True):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        m = width
        box = (min(xs) - m, min(ys) - m, max(xs) + m, max(ys) + m)

        def paint(d, P, B, s):
            d.line([P(*p) for p in pts], fill=rgba(color), width=max(1, int(round(width * s))),
                   joint="curve")
            if caps:
                r = width * s / 2.0
                for p in (pts[0], pts[-1]):
                    x, y = P(*p)
                    d.ellipse([x - r, y - r, x + r - 1, y + r - 1], fill=rgba(color))
        self._paint(box, paint)

    def arc(self, cx, cy, r, start, end, color, width=1.0, caps=True):
        """Arc of a circle of radius r (to the middle of the stroke); angles in
        degrees, clockwise from three o'clock."""
        box = (cx - r - width, cy - r - width, cx + r + width, cy + r + width)
        ro = r + width / 2.0

        def paint(d, P, B, s):
            bb = B((cx - ro, cy - ro, cx + ro, cy + ro))
            d.arc(bb, start, end, fill=rgba(color), width=max(1, int(round(width * s))))
            if caps:
                rr = width * s / 2.0
                for ang in (start, end):
                    x, y = P(cx + r * math.cos(math.radians(ang)), cy + r * math.sin(math.radians(ang)))
                    d.ellipse([x - rr, y - rr, x + rr - 1, y + rr - 1], fill=rgba(color))
        self._paint(box, paint)

    def gradient(self, box, r, top, bottom, horizontal=False, outline=None, width=1.0):
        """Rounded rectangle filled with a linear gradient (top to bottom, or left to right)."""
        s = self.s
        n = (box[2] - box[0]) if horizontal else (box[3] - box[1])
        steps = max(2, int(round(n * s)))
        strip = Image.new("RGBA", (steps, 1) if horizontal else (1, steps))
        ta = top[3] if len(top) == 4 else 255
        ba = bottom[3] if len(bottom) == 4 else 255
        for i in range(steps):
            t = i / (steps - 1)
            c = rgba(mix(top, bottom, t), int(round(ta + (ba - ta) * t)))
            strip.putpixel((i, 0) if horizontal else (0, i), c)
        W = max(1, int(round((box[2] - box[0]) * s)))
        H = max(1, int(round((box[3] - box[1]) * s)))
        fillimg = strip.resize((W, H), Image.NEAREST)
        src = Image.new("RGBA", self.im.size, (0, 0, 0, 0))
        src.paste(fillimg, (int(round(box[0] * s)), int(round(box[1] * s))))
        self._mask_paint(box, lambda d, P, B, s_: d.rounded_rectangle(B(box), radius=r * s_, fill=255), src)
        if outline:
            self.rrect(box, r, outline=outline, width=width)

    # -- result
    def finish(self):
        if self.s == 1:
            return self.im.copy()
        return self.im.convert("RGBa").resize((self.w, self.h), Image.BOX).convert("RGBA")


def text(img, xy, s, size, color, bold=False, anchor="mm", alpha=255):
    """Set text at full size; blended through its coverage mask (clean edges on transparency)."""
    f = font(size, bold)
    mask = Image.new("L", img.size, 0)
    ImageDraw.Draw(mask).text(xy, s, font=f, fill=alpha, anchor=anchor)
    layer = Image.new("RGBA", img.size, rgba(color, 0))
    layer.putalpha(mask)
    img.alpha_composite(layer)
    return f.getbbox(s, anchor=anchor)


def text_width(s, size, bold=False):
    b = font(size, bold).getbbox(s, anchor="ls")
    return b[2] - b[0]


# ---------------------------------------------------------------- glyphs
# Each glyph draws into an Art, centred on (cx, cy), about `n` pixels across.

def g_info(a, cx, cy, n, c):
    a.circle(cx, cy, n * 0.46, outline=c, width=n * 0.1)
    a.circle(cx, cy - n * 0.2, n * 0.07, fill=c)
    a.line([(cx, cy - n * 0.04), (cx, cy + n * 0.24)], c, n * 0.12)


def g_sliders(a, cx, cy, n, c):
    w = n * 0.1
    for i, (dy, kx) in enumerate(((-0.32, 0.18), (0.0, -0.2), (0.32, 0.08))):
        y = cy + dy * n
        a.line([(cx - n * 0.45, y), (cx + n * 0.45, y)], c, w)
        a.circle(cx + kx * n, y, n * 0.12, fill=c)


def g_calc(a, cx, cy, n, c, hole):
    x0, y0, x1, y1 = cx - n * 0.36, cy - n * 0.47, cx + n * 0.36, cy + n * 0.47
    a.rrect((x0, y0, x1, y1), n * 0.1, fill=c)
    a.rect((x0 + n * 0.12, y0 + n * 0.12, x1 - n * 0.12, y0 + n * 0.32), hole)
    for r in range(3):
        for k in range(3):
            px = x0 + n * (0.17 + 0.19 * k)
            py = y0 + n * (0.47 + 0.16 * r)
            a.rect((px, py, px + n * 0.1, py + n * 0.09), hole)


def g_pin(a, cx, cy, n, c, hole):
    r = n * 0.3
    top = cy - n * 0.14
    a.circle(cx, top, r, fill=c)
    a.polygon([(cx - r * 0.87, top + r * 0.5), (cx + r * 0.87, top + r * 0.5), (cx, cy + n * 0.48)], c)
    a.circle(cx, top, r * 0.42, fill=hole)


def g_picture(a, cx, cy, n, c, hole, arrow=False):
    x0, y0, x1, y1 = cx - n * 0.48, cy - n * 0.38, cx + n * 0.48, cy + n * 0.38
    a.rrect((x0, y0, x1, y1), n * 0.08, fill=c)
    a.rect((x0 + n * 0.08, y0 + n * 0.08, x1 - n * 0.08, y1 - n * 0.08), hole)
    a.polygon([(x0 + n * 0.1, y1 - n * 0.1), (x0 + n * 0.36, y0 + n * 0.3),
               (x0 + n * 0.56, y1 - n * 0.26), (x0 + n * 0.68, y1 - n * 0.38),
               (x1 - n * 0.1, y1 - n * 0.1)], c)
    a.circle(x1 - n * 0.24, y0 + n * 0.24, n * 0.08, fill=c)
    if arrow:
        ax, ay = x1 - n * 0.02, y1 - n * 0.02
        a.circle(ax, ay, n * 0.28, fill=hole)
        a.circle(ax, ay, n * 0.22, fill=c)
        a.line([(ax, ay - n * 0.12), (ax, ay + n * 0.08)], hole, n * 0.07)
        a.line([(ax - n * 0.09, ay), (ax, ay + n * 0.09), (ax + n * 0.09, ay)], hole, n * 0.07)


def g_trash(a, cx, cy, n, c):
    w = n * 0.1
    a.line([(cx - n * 0.42, cy - n * 0.3), (cx + n * 0.42, cy - n * 0.3)], c, w)
    a.line([(cx - n * 0.13, cy - n * 0.3), (cx - n * 0.1, cy - n * 0.44),
            (cx + n * 0.1, cy - n * 0.44), (cx + n * 0.13, cy - n * 0.3)], c, w * 0.9)
    a.polygon([(cx - n * 0.32, cy - n * 0.2), (cx + n * 0.32, cy - n * 0.2),
               (cx + n * 0.26, cy + n * 0.47), (cx - n * 0.26, cy + n * 0.47)], c)


def g_trash_lines(a, cx, cy, n, hole):
    for dx in (-0.12, 0.0, 0.12):
        a.line([(cx + dx * n, cy - n * 0.08), (cx + dx * n, cy + n * 0.34)], hole, n * 0.06)


def g_wifi(a, cx, cy, n, c):
    base = cy + n * 0.34
    w = n * 0.11
    for r in (0.24, 0.46, 0.68):
        a.arc(cx, base, r * n, 225, 315, c, w)
    a.circle(cx, base, n * 0.075, fill=c)


def g_usb(a, cx, cy, n, c):
    w = n * 0.09
    top, bot = cy - n * 0.38, cy + n * 0.36
    a.line([(cx, top + n * 0.1), (cx, bot - n * 0.06)], c, w)
    a.polygon([(cx, top - n * 0.04), (cx - n * 0.12, top + n * 0.14), (cx + n * 0.12, top + n * 0.14)], c)
    a.circle(cx, bot, n * 0.1, fill=c)
    a.line([(cx, cy + n * 0.16), (cx - n * 0.28, cy - n * 0.02), (cx - n * 0.28, cy - n * 0.14)], c, w)
    a.circle(cx - n * 0.28, cy - n * 0.18, n * 0.08, fill=c)
    a.line([(cx, cy + n * 0.06), (cx + n * 0.28, cy - n * 0.1), (cx + n * 0.28, cy - n * 0.2)], c, w)
    a.rect((cx + n * 0.2, cy - n * 0.34, cx + n * 0.36, cy - n * 0.2), c)


def g_plug(a, cx, cy, n, c, hole):
    # serial connector: a trapezoid shell with two rows of pins
    a.polygon([(cx - n * 0.48, cy - n * 0.26), (cx + n * 0.48, cy - n * 0.26),
               (cx + n * 0.36, cy + n * 0.26), (cx - n * 0.36, cy + n * 0.26)], c)
    for k in range(5):
        a.circle(cx - n * 0.28 + k * n * 0.14, cy - n * 0.08, n * 0.045, fill=hole)
    for k in range(4):
        a.circle(cx - n * 0.21 + k * n * 0.14, cy + n * 0.1, n * 0.045, fill=hole)


def g_globe(a, cx, cy, n, c):
    w = n * 0.08
    r = n * 0.44
    a.circle(cx, cy, r, outline=c, width=w)
    a.ellipse((cx - r * 0.45, cy - r, cx + r * 0.45, cy + r), outline=c, width=w)
    a.line([(cx - r, cy), (cx + r, cy)], c, w, caps=False)
    a.line([(cx, cy - r), (cx, cy + r)], c, w, caps=False)


def g_camera(a, x0, y0, x1, y1, body, lens, shade=None):
    """A still camera seen from the front, inside the box."""
    w, h = x1 - x0, y1 - y0
    top = y0 + h * 0.2
    a.rrect((x0 + w * 0.24, y0 + h * 0.02, x0 + w * 0.56, top + h * 0.12), h * 0.08, fill=body)
    a.rrect((x0, top, x1, y1), h * 0.16, fill=body)
    if shade:
        a.rect((x0 + w * 0.03, top + (y1 - top) * 0.5, x1 - w * 0.03, y1 - h * 0.06), shade)
    cx, cy = x0 + w * 0.5, top + (y1 - top) * 0.52
    r = min(w, y1 - top) * 0.36
    a.circle(cx, cy, r, fill=lens)
    a.circle(cx, cy, r * 0.62, fill=body)
    a.circle(cx, cy, r * 0.36, fill=lens)
    a.circle(cx - r * 0.12, cy - r * 0.14, r * 0.12, fill=mix(body, (255, 255, 255), 0.6))
    a.rect((x1 - w * 0.2, top + h * 0.1, x1 - w * 0.08, top + h * 0.2), lens)


def g_fivelens(a, cx, cy, n, c, inner=None):
    """The mark of the five-lens camera: a large centre lens and four around it."""
    d = n * 0.33
    r = n * 0.17
    for dx, dy in ((0, -1), (1, 0), (0, 1), (-1, 0)):
        a.circle(cx + dx * d, cy + dy * d, r, fill=c)
        if inner:
            a.circle(cx + dx * d, cy + dy * d, r * 0.42, fill=inner)
    a.circle(cx, cy, n * 0.2, fill=c)
    if inner:
        a.circle(cx, cy, n * 0.1, fill=inner)


def g_ruler(a, cx, cy, n, c):
    w = n * 0.1
    for x in (-0.46, 0.46):
        a.line([(cx + x * n, cy - n * 0.34), (cx + x * n, cy + n * 0.34)], c, w)
    a.line([(cx - n * 0.2, cy), (cx + n * 0.2, cy)], c, w)
    a.polygon([(cx - n * 0.36, cy), (cx - n * 0.14, cy - n * 0.18), (cx - n * 0.14, cy + n * 0.18)], c)
    a.polygon([(cx + n * 0.36, cy), (cx + n * 0.14, cy - n * 0.18), (cx + n * 0.14, cy + n * 0.18)], c)


def g_clock(a, cx, cy, n, c):
    a.circle(cx, cy, n * 0.44, outline=c, width=n * 0.1)
    a.line([(cx, cy - n * 0.26), (cx, cy), (cx + n * 0.2, cy + n * 0.1)], c, n * 0.1)


def g_edge(a, cx, cy, n, c):
    w = n * 0.1
    lo, hi = cy + n * 0.3, cy - n * 0.3
    a.line([(cx - n * 0.48, lo), (cx - n * 0.08, lo), (cx - n * 0.08, hi), (cx + n * 0.48, hi)], c, w)
    a.polygon([(cx - n * 0.08, cy - n * 0.14), (cx - n * 0.22, cy + n * 0.06), (cx + n * 0.06, cy + n * 0.06)], c)


def g_io(a, cx, cy, n, c):
    w = n * 0.1
    a.line([(cx - n * 0.48, cy + n * 0.3), (cx - n * 0.22, cy + n * 0.3), (cx - n * 0.22, cy - n * 0.3),
            (cx + n * 0.22, cy - n * 0.3), (cx + n * 0.22, cy + n * 0.3), (cx + n * 0.48, cy + n * 0.3)], c, w)


def g_pwm(a, cx, cy, n, c):
    w = n * 0.09
    pts = [(cx - n * 0.5, cy + n * 0.3)]
    x = cx - n * 0.42
    for k in range(3):
        pts += [(x, cy + n * 0.3), (x, cy - n * 0.3), (x + n * 0.13, cy - n * 0.3), (x + n * 0.13, cy + n * 0.3)]
        x += n * 0.3
    pts.append((cx + n * 0.5, cy + n * 0.3))
    a.line(pts, c, w)


def g_download(a, cx, cy, n, c):
    w = n * 0.12
    a.line([(cx, cy - n * 0.44), (cx, cy + n * 0.12)], c, w)
    a.line([(cx - n * 0.24, cy - n * 0.1), (cx, cy + n * 0.14), (cx + n * 0.24, cy - n * 0.1)], c, w)
    a.line([(cx - n * 0.42, cy + n * 0.2), (cx - n * 0.42, cy + n * 0.42), (cx + n * 0.42, cy + n * 0.42),
            (cx + n * 0.42, cy + n * 0.2)], c, w)


def g_cross(a, cx, cy, n, c, w=None):
    w = w or n * 0.14
    a.line([(cx - n * 0.35, cy - n * 0.35), (cx + n * 0.35, cy + n * 0.35)], c, w)
    a.line([(cx - n * 0.35, cy + n * 0.35), (cx + n * 0.35, cy - n * 0.35)], c, w)


def g_check(a, cx, cy, n, c, w=None):
    w = w or n * 0.14
    a.line([(cx - n * 0.38, cy + n * 0.02), (cx - n * 0.1, cy + n * 0.3), (cx + n * 0.4, cy - n * 0.28)], c, w)


def g_play(a, cx, cy, n, c):
    a.polygon([(cx - n * 0.3, cy - n * 0.42), (cx + n * 0.42, cy), (cx - n * 0.3, cy + n * 0.42)], c)


def g_pause(a, cx, cy, n, c):
    a.rrect((cx - n * 0.34, cy - n * 0.4, cx - n * 0.08, cy + n * 0.4), n * 0.05, fill=c)
    a.rrect((cx + n * 0.08, cy - n * 0.4, cx + n * 0.34, cy + n * 0.4), n * 0.05, fill=c)


def g_restore(a, cx, cy, n, c):
    w = n * 0.12
    a.arc(cx, cy, n * 0.36, 200, 500, c, w)
    ang = math.radians(200)
    ex, ey = cx + n * 0.36 * math.cos(ang), cy + n * 0.36 * math.sin(ang)
    a.polygon([(ex - n * 0.2, ey - n * 0.02), (ex + n * 0.14, ey - n * 0.06), (ex - n * 0.02, ey + n * 0.26)], c)
    # a small card in the middle
    a.rrect((cx - n * 0.12, cy - n * 0.14, cx + n * 0.12, cy + n * 0.16), n * 0.03, fill=c)


def g_folder(a, cx, cy, n, c, front):
    a.rrect((cx - n * 0.46, cy - n * 0.36, cx - n * 0.06, cy - n * 0.16), n * 0.05, fill=c)
    a.rrect((cx - n * 0.46, cy - n * 0.26, cx + n * 0.46, cy + n * 0.38), n * 0.06, fill=c)
    a.polygon([(cx - n * 0.38, cy - n * 0.08), (cx + n * 0.5, cy - n * 0.08),
               (cx + n * 0.42, cy + n * 0.38), (cx - n * 0.46, cy + n * 0.38)], front)


# ---------------------------------------------------------------- pictures
PICTURES = {}   # name -> PIL image, in the order drawn


def put(name, img):
    assert name not in PICTURES, name
    PICTURES[name] = img


def button(w, h, top, bottom, line=None, r=4, caption=None, size=14, color=WHITE, bold=True,
           glyph=None, glyph_size=None, gap=6, dy=0, shadow=True):
    """A button face: gradient, border, optional glyph and caption centred together."""
    a = Art(w, h)
    if shadow:
        a.rrect((0.5, 1.5, w - 0.5, h), r, fill=(0, 0, 0, 40))
    a.gradient((0.5, 0.5, w - 0.5, h - 1.0), r, top, bottom, outline=line, width=1.0)
    a.gradient((1.5, 1.5, w - 1.5, h * 0.55), max(1, r - 1), (255, 255, 255, 34), (255, 255, 255, 0))
    gs = glyph_size or int(round(h * 0.5))
    tw = text_width(caption, size, bold) if caption else 0
    total = (gs if glyph else 0) + (gap if glyph and caption else 0) + tw
    x = (w - total) / 2.0
    cy = (h - 1) / 2.0 + dy
    if glyph:
        glyph(a, x + gs / 2.0, cy, gs)
        x += gs + gap
    img = a.finish()
    if caption:
        text(img, (x, cy + 0.5), caption, size, color, bold, anchor="lm")
    return img


def blue_button(w, h, caption=None, glyph=None, **kw):
    return button(w, h, BLUE_TOP, BLUE_BOTTOM, BLUE_DARK, caption=caption, glyph=glyph, **kw)


# --- shell: window, title bar, logo, window icon -----------------------------------

def draw_frame():
    a = Art(760, 540, bg=WIN, ss=2)
    # page area: a quiet vertical gradient
    a.gradient((154, 32, 760, 540), 0, (56, 58, 62), (44, 45, 48))
    # left column
    a.rect((0, 0, 154, 540), COLUMN)
    a.rect((153, 32, 154, 540), COLUMN_LINE)
    a.rect((154, 32, 155, 540), (62, 64, 69))
    # a faint flight plan in the lower right: parallel survey lines joined at their ends
    plan = (255, 255, 255, 10)
    for k in range(5):
        y = 330 + k * 34
        a.line([(470, y), (720, y)], plan, 1.5)
        if k < 4:
            x = 720 if k % 2 == 0 else 470
            a.arc(x, y + 17, 17, -90 if k % 2 == 0 else 90, 90 if k % 2 == 0 else 270, plan, 1.5)
    for k in range(5):
        for j in range(6):
            a.circle(490 + j * 44, 330 + k * 34, 2.2, fill=(255, 255, 255, 16))
    # the mark above the version line
    g_fivelens(a, 280, 212, 44, (84, 92, 104), inner=(56, 60, 66))
    a.rect((256, 244, 600, 245), (74, 79, 88))
    img = a.finish()
    text(img, (310, 212), "Orvex", 34, (92, 102, 116), True, anchor="lm")
    text(img, (420, 218), "五镜头倾斜相机地面站", 13, (100, 108, 120), False, anchor="lm")
    return img


def draw_title():
    a = Art(760, 32, ss=2)
    a.gradient((0, 0, 760, 32), 0, TITLE_TOP, TITLE_BOTTOM)
    a.rect((0, 31, 760, 32), (16, 17, 19))
    a.rect((0, 30, 154, 32), BLUE)
    return a.finish()


def draw_logo():
    a = Art(108, 32)
    a.rrect((4, 5, 26, 27), 5, fill=BLUE)
    g_fivelens(a, 15, 16, 18, WHITE, inner=BLUE_DARK)
    img = a.finish()
    text(img, (31, 16), "Orvex", 18, WHITE, True, anchor="lm")
    return img


def draw_tip():
    a = Art(128, 128)
    a.rrect((4, 6, 124, 126), 26, fill=(0, 0, 0, 60))
    a.gradient((4, 4, 124, 124), 26, (30, 172, 250), (0, 92, 176), outline=(0, 74, 146), width=2)
    a.rrect((8, 8, 120, 64), 22, fill=(255, 255, 255, 26))
    g_fivelens(a, 64, 64, 86, WHITE, inner=(0, 104, 186))
    return a.finish()


def draw_help():
    a = Art(12, 12, ss=8)
    a.circle(6, 6, 5.8, fill=(200, 206, 214))
    img = a.finish()
    # the question mark, drawn as shapes: cleaner than a glyph at this size
    b = Art(12, 12, ss=8)
    b.arc(6, 4.6, 1.9, 180, 395, (28, 30, 33), 1.5, caps=False)
    b.line([(7.6, 5.6), (6.0, 6.7), (6.0, 7.5)], (28, 30, 33), 1.5, caps=False)
    b.circle(6, 9.3, 0.95, fill=(28, 30, 33))
    q = b.finish()
    img.alpha_composite(q)
    return img


def draw_update():
    a = Art(12, 14, ss=8)
    c = (200, 206, 214)
    a.polygon([(6, 0.6), (11.2, 6.0), (8.0, 6.0), (8.0, 9.6), (4.0, 9.6), (4.0, 6.0), (0.8, 6.0)], c)
    a.rrect((0.8, 11.2, 11.2, 13.4), 0.6, fill=c)
    return a.finish()


def draw_close():
    a = Art(12, 12, ss=8)
    c = (210, 215, 222)
    a.line([(1.6, 1.6), (10.4, 10.4)], c, 1.6)
    a.line([(1.6, 10.4), (10.4, 1.6)], c, 1.6)
    return a.finish()


def draw_shrink():
    a = Art(32, 32, ss=8)
    a.rrect((10, 16.6, 22, 18.4), 0.5, fill=(210, 215, 222))
    return a.finish()


# --- left column: navigation entries, status panel, link button ---------------------

NAV = [
    ("deviceInfo_normal.png", "deviceInfo_selected.png", "设备信息", "info"),
    ("configTest_normal.png", "configTest_selected.png", "配置测试", "sliders"),
    ("collectAssistant_normal.png", "collectAssistant_selected.png", "采集助手", "calc"),
    ("posnor.png", "possele.png", "POS下载", "pin"),
    ("yingxiangnor.png", "yingxiangsele.png", "影像下载", "picture"),
    ("yingxiangqingkongnor.png", "yingxiangqingkongselect.png", "影像清空", "trash"),
]


def nav_glyph(a, kind, cx, cy, n, c, hole):
    if kind == "info":
        g_info(a, cx, cy, n, c)
    elif kind == "sliders":
        g_sliders(a, cx, cy, n, c)
    elif kind == "calc":
        g_calc(a, cx, cy, n, c, hole)
    elif kind == "pin":
        g_pin(a, cx, cy, n, c, hole)
    elif kind == "picture":
        g_picture(a, cx, cy, n, c, hole, arrow=True)
    elif kind == "trash":
        g_trash(a, cx, cy, n, c)
        g_trash_lines(a, cx, cy, n, hole)


def draw_nav(caption, kind, selected):
    w, h = 154, 36
    a = Art(w, h)
    if selected:
        a.gradient((0, 0, w, h), 0, (0, 128, 212), (0, 96, 176), horizontal=False)
        a.gradient((0, 0, w, h), 0, (255, 255, 255, 30), (255, 255, 255, 0), horizontal=True)
        a.rect((0, 0, 4, h), BLUE_LIGHT)
        a.rect((0, h - 1, w, h), (0, 78, 146))
        # a small pointer towards the page
        a.polygon([(w, 11), (w - 7, 18), (w, 25)], (56, 58, 62))
        fg, hole = WHITE, (0, 112, 196)
    else:
        a.rect((0, 0, w, h), (43, 44, 48))
        a.rect((0, 0, w, 1), (54, 56, 60))
        a.rect((0, h - 1, w, h), (30, 31, 34))
        fg, hole = ICON_DIM, (43, 44, 48)
    nav_glyph(a, kind, 30, 18, 17, fg, hole)
    img = a.finish()
    text(img, (50, 18), caption, 14, WHITE if selected else TEXT_DIM, selected, anchor="lm")
    return img


def draw_status_panel():
    w, h = 154, 367
    a = Art(w, h, ss=2)
    a.gradient((0, 0, w, h), 0, (40, 41, 45), (33, 34, 37))
    a.rect((w - 1, 0, w, h), COLUMN_LINE)
    cx, cy = 72.5, 120
    # the camera's outline behind the five camera icons (top is the front)
    a.ellipse((cx - 63, cy - 44, cx + 63, cy + 46), fill=(255, 255, 255, 8), outline=(88, 94, 104), width=1)
    for p in ((cx, cy - 24), (cx, cy + 24), (cx - 26, cy), (cx + 26, cy)):
        a.line([(cx, cy), p], (80, 86, 96), 1.0, caps=False)
    # separators between the status groups (the part above y 76 lies under the
    # navigation entries, the part below y 327 under the link button)
    for y in (176, 262, 302):
        a.rect((12, y, w - 12, y + 1), (58, 60, 66))
    return a.finish()


def draw_camera_icon(w, h, yellow):
    a = Art(w, h, ss=8)
    body = YELLOW if yellow else (244, 246, 249)
    lens = (54, 42, 6) if yellow else (44, 48, 54)
    g_camera(a, 0.5, 0.5, w - 0.5, h - 0.5, body, lens)
    return a.finish()


def draw_pictures():
    a = Art(21, 21, ss=8)
    c = (226, 231, 238)
    a.rrect((4.5, 1.5, 20, 16), 1.6, fill=(140, 150, 164))
    a.rrect((1, 4.5, 16.5, 19.5), 1.6, fill=c)
    a.rect((2.6, 6.1, 14.9, 17.9), (45, 48, 53))
    a.polygon([(2.6, 17.9), (7.0, 10.8), (10.2, 15.0), (11.8, 13.2), (14.9, 17.9)], (88, 196, 255))
    a.circle(12.0, 8.9, 1.4, fill=YELLOW)
    return a.finish()


def draw_sats():
    a = Art(21, 21, ss=8)
    c = (230, 235, 242)
    panel = (88, 196, 255)
    cx, cy = 11.5, 9.5
    k = math.sqrt(0.5)

    def rot(pts):  # local (u along the panels, v across) turned by 45 degrees
        return [(cx + (u + v) * k, cy + (u - v) * k) for u, v in pts]

    # solar panels on both sides, with their struts
    for s in (1, -1):
        a.polygon(rot([(s * 4.0, -2.3), (s * 10.8, -2.3), (s * 10.8, 2.3), (s * 4.0, 2.3)]), panel)
        a.line(rot([(s * 7.4, -2.3), (s * 7.4, 2.3)]), (40, 120, 180), 0.7, caps=False)
        a.polygon(rot([(s * 2.4, -0.5), (s * 4.4, -0.5), (s * 4.4, 0.5), (s * 2.4, 0.5)]), c)
    # the body and its antenna pointing to the ground
    a.polygon(rot([(-2.6, -2.6), (2.6, -2.6), (2.6, 2.6), (-2.6, 2.6)]), c)
    a.polygon(rot([(-0.6, -2.4), (0.6, -2.4), (0.6, -4.2), (-0.6, -4.2)]), c)
    # signal waves towards the ground station (down and to the left)
    a.arc(cx, cy, 7.6, 112, 158, c, 1.4)
    a.arc(cx, cy, 10.6, 110, 160, c, 1.4)
    return a.finish()


def draw_link(connected, hover):
    w, h = 154, 42
    a = Art(w, h)
    if hover:
        a.gradient((0, 0, w, h), 0, (60, 63, 69), (48, 50, 55))
        a.rect((0, 0, 4, h), BLUE_LIGHT)
    else:
        a.gradient((0, 0, w, h), 0, (38, 39, 43), (30, 31, 34))
    a.rect((0, 0, w, 1), (62, 65, 71) if hover else (52, 54, 58))
    icon = BLUE_LIGHT if connected else ((200, 205, 212) if hover else (134, 140, 150))
    g_wifi(a, 27, 19, 22, icon)
    if not connected:
        a.line([(17, 9), (38, 31)], (38, 39, 43) if not hover else (52, 54, 58), 4.0)
        a.line([(17, 9), (38, 31)], RED, 2.0)
    # chevron: the button opens the connection settings
    chev = WHITE if hover else (110, 116, 126)
    a.line([(136, 15), (141, 21), (136, 27)], chev, 1.8)
    img = a.finish()
    cap = "WiFi已连接" if connected else "网络未连接"
    text(img, (48, 15), cap, 14, WHITE if (hover or connected) else TEXT_DIM, hover, anchor="lm")
    sub = "点击断开或重连" if connected else "点击设置连接"
    text(img, (48, 31), sub, 10, (150, 205, 240) if hover else (128, 134, 144), False, anchor="lm")
    return img


# --- communication window, connect button, warning box --------------------------------

def draw_comm_bg():
    w, h = 243, 182
    a = Art(w, h)
    a.gradient((0, 0, w, h), 0, (52, 54, 59), (42, 43, 47))
    a.gradient((0, 0, w, 27), 0, TITLE_TOP, TITLE_BOTTOM)
    a.rect((0, 26, w, 27), (16, 17, 19))
    a.rect((0, 27, w, 57), (36, 37, 41))
    a.rect((0, 56, w, 57), (66, 70, 77))
    a.rrect((0, 0, w, h), 5, outline=(78, 84, 94), width=1.0)
    return a.finish()


def draw_comm_tab(caption, kind, selected):
    w, h = 121, 30
    a = Art(w, h)
    if selected:
        a.gradient((0, 0, w, h), 0, (58, 61, 67), (52, 54, 59))
        a.rect((0, 0, w, 2.5), BLUE)
        fg = WHITE
    else:
        a.rect((0, 0, w, h), (36, 37, 41))
        a.rect((0, h - 1, w, h), (66, 70, 77))
        fg = (150, 156, 166)
    a.rect((w - 1, 4, w, h - 4), (30, 31, 34))
    gx = 28
    if kind == "net":
        g_globe(a, gx, 15.5, 14, BLUE_LIGHT if selected else fg)
    else:
        g_plug(a, gx, 15.5, 15, BLUE_LIGHT if selected else fg, (58, 61, 67) if selected else (36, 37, 41))
    img = a.finish()
    text(img, (40, 15.5), caption, 13, fg, selected, anchor="lm")
    return img


def draw_connect_button(hover):
    # no caption: the window lays the caption "连接" / "断开" over it (dark, white on hover)
    if hover:
        return button(108, 32, BLUE_TOP, BLUE_BOTTOM, BLUE_DARK, r=5)
    return button(108, 32, (250, 251, 252), (218, 223, 229), (150, 157, 168), r=5)


def draw_warning_bg():
    w, h = 320, 180
    a = Art(w, h)
    a.gradient((0, 0, w, h), 0, (56, 58, 63), (44, 45, 49))
    a.gradient((0, 0, w, 30), 0, TITLE_TOP, TITLE_BOTTOM)
    a.rect((0, 30, w, 31), BLUE)
    a.rect((0, 31, w, 32), (30, 31, 34))
    a.rect((20, h - 50, w - 20, h - 49), (64, 67, 74))
    a.rrect((0, 0, w, h), 5, outline=(84, 90, 100), width=1.0)
    a.circle(18, 15, 7.2, fill=BLUE)
    a.circle(18, 11.6, 1.2, fill=WHITE)
    a.line([(18, 14.2), (18, 18.8)], WHITE, 1.9)
    img = a.finish()
    text(img, (31, 15), "提示", 13, WHITE, True, anchor="lm")
    return img


def draw_spinner(step):
    """One of three frames of the busy indicator: three comet arcs, turned 40 degrees a frame."""
    n = 32
    a = Art(n, n, ss=8)
    c = n / 2.0
    r = 11.5
    a.circle(c, c, r, outline=(255, 255, 255, 28), width=3.2)
    seg = 12
    for arm in range(3):
        head = -90 + arm * 120 + step * 40
        for i in range(seg):
            t0 = head - 80 + i * (80.0 / seg)
            t = (i + 1) / float(seg)
            col = rgba(mix((60, 110, 160), BLUE_LIGHT, t), int(40 + 215 * t))
            a.arc(c, c, r, t0, t0 + 80.0 / seg + 0.8, col, 3.2, caps=(i == seg - 1))
    return a.finish()


def draw_btn_b():
    # caption-less: the box writes "确定" (or its question's answers) over it, in white
    return button(80, 30, BLUE_TOP, BLUE_BOTTOM, BLUE_DARK, r=4)


# --- configuration pages ------------------------------------------------------------

def draw_page_bg():
    w, h = 606, 508
    a = Art(w, h, bg=WIN, ss=2)
    a.gradient((0, 0, w, h), 0, (54, 56, 60), (46, 47, 50))
    a.rrect((6, 8, 600, 503), 6, fill=(0, 0, 0, 50))
    a.gradient((6, 6, 600, 501), 6, (247, 248, 250), (236, 239, 243), outline=(180, 187, 197), width=1.0)
    return a.finish()


def draw_config_header(selected_index):
    """The tab strip behind the captions "采集策略" and "设备调试" (placed at (10, 40), 584 x 36)."""
    w, h = 584, 36
    a = Art(w, h)
    a.rect((0, h - 1, w, h), CARD_LINE)
    tabs = ((5, 101), (111, 207))
    for i, (x0, x1) in enumerate(tabs):
        if i == selected_index:
            a.rrect((x0, 1, x1, h + 6), 5, fill=WHITE, outline=CARD_LINE, width=1.0)
            a.rect((x0 + 1, h - 1, x1 - 1, h), WHITE)
            a.rrect((x0 + 1, 1, x1 - 1, 4), 2, fill=(0, 185, 255))
        else:
            a.rrect((x0, 5, x1, h + 6), 5, fill=(228, 232, 237), outline=(214, 219, 226), width=1.0)
            a.rect((x0, h - 1, x1, h), CARD_LINE)
    return a.finish()


STRATEGY_TABS = [
    ("fixeddiatance", 104, "定距触发", g_ruler),
    ("fixedtime", 104, "定时触发", g_clock),
    ("elge", 119, "沿触发", g_edge),
    ("IO", 120, "IO触发", g_io),
    ("pwm", 139, "PWM触发", g_pwm),
]


def draw_strategy_tab(w, caption, glyph, selected):
    h = 35
    a = Art(w, h)
    box = (1, 2, w - 1, h + 4)
    if selected:
        a.gradient(box, 5, BLUE_TOP, BLUE_BOTTOM, outline=BLUE_DARK, width=1.0)
        fg = WHITE
    else:
        a.gradient(box, 5, (246, 247, 249), (226, 230, 235), outline=(196, 202, 211), width=1.0)
        fg = INK_DIM
    a.rect((0, h - 1, w, h), BLUE_DARK if selected else (196, 202, 211))
    gs = 18
    tw = text_width(caption, 13, selected)
    x = (w - (gs + 6 + tw)) / 2.0
    glyph(a, x + gs / 2.0, 19, gs, fg)
    img = a.finish()
    text(img, (x + gs + 6, 19), caption, 13, fg, selected, anchor="lm")
    return img


def draw_debug_bg():
    """Background of the device debug tab, placed at (6, 26), 571 x 381."""
    w, h = 571, 381
    ox, oy = 6, 26
    a = Art(w, h, ss=2)
    a.rrect((0, 0, w, h), 6, fill=WHITE, outline=CARD_LINE, width=1.0)
    a.rect((14, 12, 17, 30), BLUE)
    for i, y in enumerate((80, 120, 160, 200, 240)):
        yy = y - oy
        a.rrect((44, yy - 6, 536, yy + 30), 4, fill=(243, 246, 250) if i % 2 == 0 else (250, 251, 253))
    a.rect((20, 300 - oy, w - 20, 301 - oy), (226, 230, 236))
    # a soft disc behind the shutter button (270, 330), 47 x 46
    a.circle(270 - ox + 23.5, 330 - oy + 23, 30, fill=(232, 242, 251))
    img = a.finish()
    text(img, (24, 21), "相机工作状态", 13, INK, True, anchor="lm")
    return img


def draw_count_box(problem):
    a = Art(74, 24)
    if problem:
        a.rrect((0.5, 0.5, 73.5, 23.5), 3, fill=(255, 233, 231), outline=RED, width=1.2)
        a.rect((68, 4, 70.5, 20), RED)
    else:
        a.rrect((0.5, 0.5, 73.5, 23.5), 3, fill=WHITE, outline=(176, 184, 195), width=1.0)
        a.rect((68, 4, 70.5, 20), (120, 200, 150))
    return a.finish()


def draw_dot(color):
    a = Art(16, 16, ss=8)
    a.circle(8, 8, 7.4, fill=mix(color, (0, 0, 0), 0.25))
    a.circle(8, 8, 6.3, fill=color)
    a.circle(6.4, 6.0, 2.3, fill=(255, 255, 255, 110))
    return a.finish()


def draw_shutter(pressed):
    w, h = 47, 46
    a = Art(w, h, ss=8)
    cx, cy = 23.5, 23
    if pressed:
        a.circle(cx, cy, 22.2, fill=(0, 70, 130))
        a.gradient((cx - 20.5, cy - 20.5, cx + 20.5, cy + 20.5), 20.5, (0, 96, 172), (0, 124, 206))
        body, lens = (220, 236, 250), (0, 100, 178)
        off = 0.8
    else:
        a.circle(cx, cy + 0.8, 22.4, fill=(0, 0, 0, 50))
        a.circle(cx, cy, 22.2, fill=BLUE_DARK)
        a.gradient((cx - 21, cy - 21, cx + 21, cy + 21), 21, (40, 176, 250), (0, 118, 204))
        body, lens = WHITE, (0, 122, 206)
        off = 0
    g_camera(a, cx - 12, cy - 9.5 + off, cx + 12, cy + 9.5 + off, body, lens)
    return a.finish()


def draw_setup():
    return blue_button(84, 27, "设置", size=13, r=4)


def draw_calc_button():
    return blue_button(100, 32, "计算", size=14, r=4,
                       glyph=lambda a, cx, cy, n: g_calc(a, cx, cy, n, WHITE, (0, 130, 215)), glyph_size=16)


# --- POS download page ---------------------------------------------------------------

def draw_source_button(kind, available):
    caption = "设备读取" if kind == "wifi" else "USB读取"
    gl = g_wifi if kind == "wifi" else g_usb
    if available:
        return button(120, 34, BLUE_TOP, BLUE_BOTTOM, BLUE_DARK, caption=caption, size=14,
                      glyph=lambda a, cx, cy, n: gl(a, cx, cy, n, WHITE), glyph_size=18)
    return button(120, 34, (236, 238, 241), (222, 225, 229), (196, 201, 208), caption=caption, size=14,
                  color=(150, 156, 165), bold=False,
                  glyph=lambda a, cx, cy, n: gl(a, cx, cy, n, (168, 174, 183)), glyph_size=18)


def draw_download(state):
    if state == "nor":
        return button(120, 34, WHITE, (232, 241, 250), BLUE, caption="下载", size=14, color=(0, 118, 204),
                      glyph=lambda a, cx, cy, n: g_download(a, cx, cy, n, BLUE), glyph_size=16)
    if state == "hover":
        return button(120, 34, BLUE_TOP, BLUE_BOTTOM, BLUE_DARK, caption="下载", size=14,
                      glyph=lambda a, cx, cy, n: g_download(a, cx, cy, n, WHITE), glyph_size=16)
    return button(120, 34, ORANGE_TOP, ORANGE_BOTTOM, (182, 96, 10), caption="取消下载", size=14,
                  glyph=lambda a, cx, cy, n: g_cross(a, cx, cy, n, WHITE), glyph_size=13)


def draw_delete(hover):
    if hover:
        return button(120, 34, RED_TOP, RED_BOTTOM, (160, 36, 32), caption="删除", size=14,
                      glyph=lambda a, cx, cy, n: g_trash(a, cx, cy, n, WHITE), glyph_size=16)
    return button(120, 34, WHITE, (250, 236, 235), RED, caption="删除", size=14, color=RED,
                  glyph=lambda a, cx, cy, n: g_trash(a, cx, cy, n, RED), glyph_size=16)


# --- image data page -----------------------------------------------------------------

LENSES = [("center", "中视", "Center"), ("left", "左视", "Left"), ("right", "右视", "Right"),
          ("front", "前视", "Front"), ("back", "后视", "Back")]


def draw_lens(name, word, selected):
    w, h = 100, 40
    a = Art(w, h)
    if selected:
        a.rrect((0.5, 1.5, w - 0.5, h), 5, fill=(0, 0, 0, 40))
        a.gradient((0.5, 0.5, w - 0.5, h - 1), 5, BLUE_TOP, BLUE_BOTTOM, outline=BLUE_DARK, width=1.0)
        g_camera(a, 9, 11, 33, 29, WHITE, (0, 112, 196))
        a.circle(w - 11, 11, 6.5, fill=WHITE)
        g_check(a, w - 11, 11, 8, (0, 128, 212), w=1.8)
        fg, sub = WHITE, (205, 232, 252)
    else:
        a.rrect((0.5, 1.5, w - 0.5, h), 5, fill=(0, 0, 0, 25))
        a.gradient((0.5, 0.5, w - 0.5, h - 1), 5, WHITE, (234, 237, 241), outline=GREY_LINE, width=1.0)
        g_camera(a, 9, 11, 33, 29, (150, 158, 170), WHITE)
        fg, sub = INK, INK_DIM
    img = a.finish()
    text(img, (41, 14), name, 14, fg, True, anchor="lm")
    text(img, (41, 29), word, 10, sub, False, anchor="lm")
    return img


def draw_path():
    w, h = 34, 30
    a = Art(w, h)
    a.rrect((0.5, 1.5, w - 0.5, h), 4, fill=(0, 0, 0, 25))
    a.gradient((0.5, 0.5, w - 0.5, h - 1), 4, WHITE, (234, 237, 241), outline=GREY_LINE, width=1.0)
    g_folder(a, 17, 14.5, 20, (0, 118, 204), (60, 170, 240))
    return a.finish()


def draw_browse():
    return button(72, 30, WHITE, (232, 241, 250), BLUE, caption="浏览…", size=13, color=(0, 118, 204), r=4)


def draw_begin():
    return button(110, 36, (60, 196, 116), (28, 150, 78), (20, 120, 62), caption="开始", size=15,
                  glyph=lambda a, cx, cy, n: g_play(a, cx, cy, n, WHITE), glyph_size=14, r=5)


def draw_pause():
    return button(110, 36, ORANGE_TOP, ORANGE_BOTTOM, (182, 96, 10), caption="暂停", size=15,
                  glyph=lambda a, cx, cy, n: g_pause(a, cx, cy, n, WHITE), glyph_size=14, r=5)


# --- card clearing page --------------------------------------------------------------

def draw_restore():
    return button(110, 36, RED_TOP, RED_BOTTOM, (160, 36, 32), caption="还原", size=15,
                  glyph=lambda a, cx, cy, n: g_restore(a, cx, cy, n, WHITE), glyph_size=18, r=5)


def draw_status_icon(kind):
    a = Art(20, 20, ss=8)
    if kind == "ok":
        a.circle(10, 10, 9.3, fill=GREEN)
        g_check(a, 10, 10.3, 11, WHITE, w=2.1)
    elif kind == "fail":
        a.circle(10, 10, 9.3, fill=RED)
        g_cross(a, 10, 10, 10, WHITE, w=2.1)
    elif kind == "warning":
        a.polygon([(10, 1.2), (19.2, 18), (0.8, 18)], ORANGE)
        a.line([(10, 6.8), (10, 12.0)], WHITE, 2.1)
        a.circle(10, 15.0, 1.2, fill=WHITE)
    elif kind == "loading":
        a.circle(10, 10, 7.6, outline=(200, 210, 222), width=2.6)
        a.arc(10, 10, 7.6, -90, 150, BLUE, 2.6)
    return a.finish()


# ---------------------------------------------------------------- all of them
def build():
    put("frame_bk1.png", draw_frame())
    put("title_bk.png", draw_title())
    put("logo.png", draw_logo())
    put("Tip.png", draw_tip())
    put("help.png", draw_help())
    put("update.png", draw_update())
    put("shrink.png", draw_shrink())
    put("close.png", draw_close())

    for nor, sel, caption, kind in NAV:
        put(nor, draw_nav(caption, kind, False))
        put(sel, draw_nav(caption, kind, True))
    put("leftitems_bk.png", draw_status_panel())
    put("smallCamera_white.png", draw_camera_icon(25, 20, False))
    put("smallCamera_yellow.png", draw_camera_icon(25, 20, True))
    put("largeCamera_white.png", draw_camera_icon(31, 24, False))
    put("largeCamera_yellow.png", draw_camera_icon(31, 24, True))
    put("pictures.png", draw_pictures())
    put("sats.png", draw_sats())
    put("new duan.png", draw_link(False, False))
    put("net duan xuan.png", draw_link(False, True))
    put("wifi.png", draw_link(True, False))
    put("wifi-xuan.png", draw_link(True, True))

    put("bjs.png", draw_comm_bg())
    put("net .png", draw_comm_tab("网络设置", "net", True))
    put("net normal.png", draw_comm_tab("网络设置", "net", False))
    put("chuankoushezhi.png", draw_comm_tab("串口设置", "serial", True))
    put("chuankoushezhi  normal.png", draw_comm_tab("串口设置", "serial", False))
    put("btn_nor.png", draw_connect_button(False))
    put("btn_blue_hover.png", draw_connect_button(True))
    put("bg_warningbox.png", draw_warning_bg())
    put("xuanzhuan.png", draw_spinner(0))
    put("xuanzhuan1.png", draw_spinner(1))
    put("xuanzhuan2.png", draw_spinner(2))
    put("btn_B_nor.png", draw_btn_b())

    put("configtest_bk.png", draw_page_bg())
    put("caijicelv.png", draw_config_header(0))
    put("sehbeitiaoshi.png", draw_config_header(1))
    for stem, w, caption, glyph in STRATEGY_TABS:
        put(stem + "_normal.png", draw_strategy_tab(w, caption, glyph, False))
        put(stem + "_click.png", draw_strategy_tab(w, caption, glyph, True))
    put("setup_normal.png", draw_setup())
    put("icon111.png", draw_debug_bg())
    put("normal.png", draw_count_box(False))
    put("wenti.png", draw_count_box(True))
    put("round_normal.png", draw_dot(GREEN))
    put("round_error.png", draw_dot(RED))
    put("photograph_normal.png", draw_shutter(False))
    put("photograph_click.png", draw_shutter(True))
    put("calc.png", draw_calc_button())

    put("btn_WIFI_pre.png", draw_source_button("wifi", True))
    put("btn_WIFI_nor.png", draw_source_button("wifi", False))
    put("btn_USB_pre.png", draw_source_button("usb", True))
    put("btn_USB_nor.png", draw_source_button("usb", False))
    put("btn_download_nor.png", draw_download("nor"))
    put("btn_download_hover.png", draw_download("hover"))
    put("quxiaoxiazai.png", draw_download("cancel"))
    put("btn_delete_nor.png", draw_delete(False))
    put("btn_delete_hover.png", draw_delete(True))

    for key, name, word in LENSES:
        put(key + "-nor.png", draw_lens(name, word, False))
        put(key + "-hor.png", draw_lens(name, word, True))
    put("path.png", draw_path())
    put("liulan.png", draw_browse())
    put("begin.png", draw_begin())
    put("zanting.png", draw_pause())

    put("huanyuan.png", draw_restore())
    put("icon_warning_nor.png", draw_status_icon("warning"))
    put("icon_loading.png", draw_status_icon("loading"))
    put("ok.png", draw_status_icon("ok"))
    put("icon_fail.png", draw_status_icon("fail"))


def write_qrc(names):
    lines = ["<!DOCTYPE RCC>", '<RCC version="1.0">', '<qresource prefix="/Orvex">']
    for n in sorted(names):
        lines.append("    <file alias=%s>%s</file>" % (quoteattr("res/" + n), escape(n)))
    lines += ["</qresource>", "</RCC>", ""]
    with open(os.path.join(RES, "orvex.qrc"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines))


def main():
    build()
    for name, img in PICTURES.items():
        img.save(os.path.join(RES, name), format="PNG", optimize=True)
    write_qrc(PICTURES.keys())
    print("make_artwork: %d pictures and orvex.qrc written to %s" % (len(PICTURES), RES))


if __name__ == "__main__":
    main()
