#!/usr/bin/python3
"""Writes the program's pictures into the folder of this script.

    /usr/bin/python3 resources/make_pictures.py

Every picture is drawn here from code, with fixed seeds, so a run gives the
same files again (with the same Pillow and libjpeg). The BMP, the icon and the
GIF are encoded by hand: their exact layouts (bottom-up 24-bit bitmap,
4-bit icon images, a 32-colour palette with index 31 transparent) are not
what Pillow's writers produce.
"""

import math
import os
import random
import struct

from PIL import Image, ImageChops, ImageDraw, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(lerp(p, q, t) for p, q in zip(c1, c2))


def smoothstep(e0, e1, x):
    t = min(1.0, max(0.0, (x - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


def clamp8(v):
    return max(0, min(255, int(round(v))))


# --- main window background ------------------------------------------------

def background_pixel(x, y, w, h):
    # Light steel gradient: deeper at the lower left, near-white at the upper
    # right, so the highlight-coloured texts (hint at the top, support line
    # at the lower right) stay readable.
    s = x / (w - 1)
    t = y / (h - 1)
    u = min(1.0, max(0.0, 0.15 + 0.75 * t - 0.45 * s))
    col = mix((236, 240, 247), (150, 169, 199), u)

    # Racing stripes: a broad pale band and a thin steel pinstripe either
    # side, rising to the right.
    d = 0.40 * x + 0.92 * y
    band = 1.0 - smoothstep(14, 26, abs(d - 300))
    col = mix(col, (250, 252, 255), 0.45 * band)
    for c in (262, 338):
        pin = 1.0 - smoothstep(1.5, 3.5, abs(d - c))
        col = mix(col, (96, 118, 156), 0.30 * pin)
    far = 1.0 - smoothstep(6, 14, abs(d - 395))
    col = mix(col, (250, 252, 255), 0.25 * far)
    return col


def write_background(path):
    w, h = 639, 480
    row_size = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            r, g, b = background_pixel(x, y, w, h)
            row += bytes((clamp8(b), clamp8(g), clamp8(r)))
        row += b"\0" * (row_size - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels),
                       3780, 3780, 0, 0)
    offset = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + pixels)


# --- button face -----------------------------------------------------------

def write_button(path):
    w, h = 800, 600
    rnd = random.Random(20240601)

    # Brushed streaks: noise stretched along x.
    streak = Image.new("L", (40, h))
    streak.putdata([rnd.randrange(256) for _ in range(40 * h)])
    streak = streak.resize((w, h), Image.BICUBIC)
    grain = Image.new("L", (w, h))
    grain.putdata([rnd.randrange(256) for _ in range(w * h)])

    base = Image.new("RGB", (w, h))
    px = []
    for y in range(h):
        t = y / (h - 1)
        for x in range(w):
            s = x / (w - 1)
            # Soft silver-blue; a broad sheen crosses the middle, the corners
            # are a touch deeper (the pressed look uses a corner).
            sheen = math.exp(-((s - t) * 2.2) ** 2)
            corner = ((s - 0.5) ** 2 + (t - 0.5) ** 2) * 1.6
            px.append(mix(mix((196, 206, 222), (232, 237, 245), sheen),
                          (170, 184, 206), min(1.0, corner)))
    streak_d = streak.getdata()
    grain_d = grain.getdata()
    out = []
    for i, (r, g, b) in enumerate(px):
        n = (streak_d[i] - 128) * 0.09 + (grain_d[i] - 128) * 0.035
        out.append((clamp8(r + n), clamp8(g + n), clamp8(b + n * 1.1)))
    base.putdata(out)
    base.save(path, "JPEG", quality=91, optimize=False, progressive=False,
              subsampling=2, dpi=(96, 96))


# --- program icon ----------------------------------------------------------

# The 16 colours of the classic VGA palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, RED, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 9, 11, 12, 15


def icon_image(n):
    """An emblem: a navy tile, a chequered flag corner, a stylised V.
    Returns (indices, mask) with mask 1 where the pixel is transparent."""
    k = n / 32.0
    img = Image.new("P", (n, n), NAVY)
    d = ImageDraw.Draw(img)
    # Lighter band behind the V.
    d.polygon([(0, int(22 * k)), (n, int(10 * k)), (n, int(16 * k)),
               (0, int(28 * k))], fill=BLUE)
    cell = max(2, int(4 * k))
    for y in range(n):
        for x in range(n):
            if x + y <= int(17 * k):
                img.putpixel((x, y), WHITE if (x // cell + y // cell) % 2
                             else BLACK)
    if n >= 32:
        pts = [(7, 7), (16, 26), (25, 7)]
        d.line(pts, fill=WHITE, width=8, joint="curve")
        d.line(pts, fill=RED, width=4, joint="curve")
    else:
        pts = [(4, 3), (8, 13), (12, 3)]
        d.line(pts, fill=WHITE, width=4)
        d.line(pts, fill=RED, width=2)
    # Frame and rounded corners.
    d.rectangle([0, 0, n - 1, n - 1], outline=GREY)
    mask = [[0] * n for _ in range(n)]
    r = 3 if n >= 32 else 2
    for y in range(n):
        for x in range(n):
            cx = min(x, n - 1 - x)
            cy = min(y, n - 1 - y)
            if cx < r and cy < r and (r - cx) ** 2 + (r - cy) ** 2 > r * r + 1:
                mask[y][x] = 1
    idx = [[img.getpixel((x, y)) for x in range(n)] for y in range(n)]
    for y in range(n):
        for x in range(n):
            if mask[y][x]:
                idx[y][x] = BLACK
    return idx, mask


def ico_entry(n):
    idx, mask = icon_image(n)
    xor_row = ((n * 4 + 31) // 32) * 4
    and_row = ((n + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    for y in range(n - 1, -1, -1):
        row = bytearray()
        for x in range(0, n, 2):
            row.append((idx[y][x] << 4) | idx[y][x + 1])
        xor += row + b"\0" * (xor_row - len(row))
        bits = bytearray(and_row)
        for x in range(n):
            if mask[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        andm += bits
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    info = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0,
                       len(xor) + len(andm), 0, 0, 16, 0)
    return info + palette + xor + andm


def write_icon(path):
    images = [(32, ico_entry(32)), (16, ico_entry(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


# --- help window picture ---------------------------------------------------

def bezier(p0, p1, p2, p3, steps):
    for i in range(steps + 1):
        t = i / steps
        a = (1 - t) ** 3
        b = 3 * (1 - t) ** 2 * t
        c = 3 * (1 - t) * t ** 2
        e = t ** 3
        yield (a * p0[0] + b * p1[0] + c * p2[0] + e * p3[0],
               a * p0[1] + b * p1[1] + c * p2[1] + e * p3[1])


def write_help(path):
    w, h = 362, 370
    rnd = random.Random(770)
    glow = Image.new("RGB", (w, h))
    core = Image.new("RGB", (w, h))
    dg = ImageDraw.Draw(glow)
    dc = ImageDraw.Draw(core)
    # Blue strokes, sweeping in from the edges.
    for i in range(6):
        p0 = (rnd.uniform(-40, 60), rnd.uniform(0, h))
        p3 = (rnd.uniform(w - 60, w + 40), rnd.uniform(0, h))
        p1 = (rnd.uniform(0, w), rnd.uniform(-60, h + 60))
        p2 = (rnd.uniform(0, w), rnd.uniform(-60, h + 60))
        pts = list(bezier(p0, p1, p2, p3, 80))
        blue = (20, 60 + 12 * i, 160 + 12 * i)
        dg.line(pts, fill=blue, width=7)
        dc.line(pts, fill=(60, 120, 230), width=1)
    # The green-to-cyan curve.
    pts = list(bezier((10, h - 30), (120, 120), (250, 420), (w - 10, 40), 160))
    for i in range(len(pts) - 1):
        t = i / (len(pts) - 2)
        col = tuple(clamp8(v) for v in mix((40, 200, 60), (40, 220, 230), t))
        dg.line([pts[i], pts[i + 1]], fill=col, width=9)
        dc.line([pts[i], pts[i + 1]],
                fill=tuple(clamp8(v * 0.9 + 25) for v in col), width=2)
    glow = glow.filter(ImageFilter.GaussianBlur(6))
    core = core.filter(ImageFilter.GaussianBlur(0.8))
    img = ImageChops.add(ImageChops.multiply(glow, Image.new("RGB", (w, h),
                                                             (200, 200, 200))),
                         core)
    img.save(path, "JPEG", quality=40, optimize=False, progressive=False,
             subsampling=2)


# --- splash picture --------------------------------------------------------

SPLASH_PALETTE = (
    # 0-7: asphalt greys, dark to light
    [(52, 54, 60), (64, 66, 73), (76, 79, 87), (89, 92, 101),
     (103, 106, 116), (118, 121, 131), (134, 137, 147), (152, 155, 165)]
    # 8-11: kerb and flag
    + [(200, 24, 32), (236, 236, 236), (255, 255, 255), (16, 16, 20)]
    # 12-19: speed-line blues, dark to light
    + [(10, 40, 110), (20, 62, 150), (34, 88, 186), (56, 118, 210),
       (86, 148, 226), (122, 178, 238), (164, 204, 246), (206, 228, 252)]
    # 20-25: sunset yellow to orange
    + [(255, 236, 120), (255, 214, 90), (252, 188, 64), (246, 160, 48),
       (236, 128, 40), (220, 96, 36)]
    # 26-30: verge greens
    + [(30, 96, 40), (44, 122, 52), (62, 148, 66), (88, 172, 84),
       (120, 194, 110)]
    # 31: transparent, also the background
    + [(192, 192, 192)]
)
TRANSPARENT = 31

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def dither(level, x, y):
    """Ordered dither of a fractional palette step."""
    base = int(level)
    return base + (1 if (level - base) * 16 > BAYER4[y % 4][x % 4] else 0)


def splash_indices():
    w, h = 200, 138
    px = [[TRANSPARENT] * w for _ in range(h)]
    cx, cy = 34.0, 150.0  # centre of the track's sweep, below the picture

    # The sun in the upper right, yellow at the top to orange below.
    for y in range(h):
        for x in range(w):
            dx, dy = x - 174, y - 28
            if math.hypot(dx, dy) <= 22:
                level = min(5.0, max(0.0, (dy + 22) / 44 * 5.6))
                px[y][x] = 20 + min(5, dither(level, x, y))

    for y in range(h):
        for x in range(w):
            r = math.hypot(x - cx, y - cy)
            ang = math.degrees(math.atan2(y - cy, x - cx))
            # Verge on the outside of the bend.
            if 148 <= r <= 157:
                level = min(4.0, max(0.0, (r - 148) / 9 * 4.6))
                px[y][x] = 26 + min(4, dither(level, x, y))
            # Asphalt, shaded across its width.
            elif 96 <= r < 148:
                a = (r - 96) / 52
                level = 7 * (0.5 + 0.5 * math.cos(a * math.pi * 1.1 - 0.3))
                px[y][x] = min(7, dither(max(0.0, level), x, y))
                if abs(r - 122) < 1.3 and int(ang / 4) % 2:
                    px[y][x] = 9  # dashed centre line
            # Kerb on the inside edge: red and white blocks.
            elif 88 <= r < 96:
                px[y][x] = 8 if int(ang / 5) % 2 else 10

    # Speed lines inside the bend, bright at their heads on the right.
    rnd = random.Random(5150)
    for i in range(22):
        y0 = rnd.randrange(78, 136)
        length = rnd.randrange(30, 80)
        x1 = rnd.randrange(60, 118)
        thick = 2 if i % 3 == 0 else 1
        for x in range(max(0, x1 - length), x1):
            t = (x1 - x) / length  # 0 at the head
            level = 7 * (1 - t)
            for yy in range(y0, min(h, y0 + thick)):
                if px[yy][x] == TRANSPARENT:
                    px[yy][x] = 12 + min(7, dither(level, x, yy))

    # A waving chequered flag on the track, upper left.
    for y in range(6, 30):
        for x in range(6, 42):
            yy = y + int(round(2 * math.sin((x - 6) / 36 * math.pi * 2)))
            px[yy][x] = 10 if ((x - 6) // 6 + (y - 6) // 6) % 2 else 11
    return w, h, px


def lzw_encode(data, min_size):
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {bytes([i]): i for i in range(clear)}, eoi + 1, min_size + 1

    table, next_code, size = reset()
    emit(clear, size)
    w = b""
    for c in data:
        wc = w + bytes([c])
        if wc in table:
            w = wc
            continue
        emit(table[w], size)
        if next_code < 4096:
            table[wc] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table, next_code, size = reset()
        w = bytes([c])
    if w:
        emit(table[w], size)
    emit(eoi, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def write_splash(path):
    w, h, px = splash_indices()
    assert len(SPLASH_PALETTE) == 32
    data = bytes(v for row in px for v in row)
    out = bytearray(b"GIF89a")
    # Global table of 32 colours (size field 4), 8-bit resolution, background
    # index 31.
    out += struct.pack("<HHBBB", w, h, 0xF4, TRANSPARENT, 0)
    out += b"".join(bytes(c) for c in SPLASH_PALETTE)
    # Graphic control: index 31 transparent.
    out += b"\x21\xF9\x04" + struct.pack("<BHB", 0x01, 0, TRANSPARENT) + b"\0"
    out += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
    out.append(5)
    lzw = lzw_encode(data, 5)
    for i in range(0, len(lzw), 255):
        chunk = lzw[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += b"\0\x3B"
    with open(path, "wb") as f:
        f.write(out)


def main():
    write_background(os.path.join(HERE, "background.bmp"))
    write_button(os.path.join(HERE, "button.jpg"))
    write_icon(os.path.join(HERE, "icon.ico"))
    write_help(os.path.join(HERE, "help.jpg"))
    write_splash(os.path.join(HERE, "splash.gif"))


if __name__ == "__main__":
    main()
