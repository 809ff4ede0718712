#!/usr/bin/env python3
"""Writes the dialogs' background picture and the application icon.

    python3 tools/artwork/make_artwork.py [OUTPUT_DIR]   (default: ui/resources)

Standard library only. The output is deterministic, so re-running it on an unchanged
script leaves the committed files byte for byte as they are.
"""

import math
import os
import struct
import sys
import zlib

BG_WIDTH, BG_HEIGHT = 640, 455
ICON_SIZE = 64


# ---------------------------------------------------------------- ICC profile


def s15f16(value):
    return struct.pack(">i", int(round(value * 65536)))


def xyz_tag(x, y, z):
    return b"XYZ " + b"\0" * 4 + s15f16(x) + s15f16(y) + s15f16(z)


def gamma_tag(gamma):
    return b"curv" + b"\0" * 4 + struct.pack(">IH", 1, int(round(gamma * 256))) + b"\0\0"


def desc_tag(text):
    ascii_text = text.encode("ascii") + b"\0"
    body = b"desc" + b"\0" * 4 + struct.pack(">I", len(ascii_text)) + ascii_text
    body += struct.pack(">II", 0, 0)  # no Unicode description
    body += struct.pack(">HB", 0, 0) + b"\0" * 67  # no ScriptCode description
    return body


def text_tag(text):
    return b"text" + b"\0" * 4 + text.encode("ascii") + b"\0"


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def icc_profile():
    """A small ICC v2.1 display profile: sRGB primaries (D50-adapted), gamma 2.2."""
    tags = [
        (b"desc", desc_tag("Update dialog RGB")),
        (b"cprt", text_tag("No copyright, use freely")),
        (b"wtpt", xyz_tag(0.9642, 1.0, 0.8249)),
        (b"rXYZ", xyz_tag(0.4361, 0.2225, 0.0139)),
        (b"gXYZ", xyz_tag(0.3851, 0.7169, 0.0971)),
        (b"bXYZ", xyz_tag(0.1431, 0.0606, 0.7141)),
        (b"rTRC", gamma_tag(2.2)),
        (b"gTRC", gamma_tag(2.2)),
        (b"bTRC", gamma_tag(2.2)),
    ]
    offset = 128 + 4 + 12 * len(tags)
    table, data = b"", b""
    for signature, body in tags:
        table += signature + struct.pack(">II", offset + len(data), len(body))
        data += pad4(body)
    size = offset + len(data)
    header = struct.pack(">I", size)
    header += b"\0\0\0\0"  # preferred CMM: none
    header += bytes([2, 0x10, 0, 0])  # version 2.1
    header += b"mntr" + b"RGB " + b"XYZ "
    header += struct.pack(">6H", 2024, 1, 1, 0, 0, 0)
    header += b"acsp" + b"\0" * 4  # platform: none
    header += struct.pack(">I", 0)  # flags
    header += b"\0" * 8  # device manufacturer and model
    header += b"\0" * 8  # attributes
    header += struct.pack(">I", 0)  # perceptual intent
    header += s15f16(0.9642) + s15f16(1.0) + s15f16(0.8249)  # PCS illuminant D50
    header += b"\0" * 4  # creator
    header += b"\0" * 16  # profile ID (optional in v2)
    header += b"\0" * (128 - len(header))
    return header + struct.pack(">I", len(tags)) + table + data


# ---------------------------------------------------------------- EXIF


def exif_blob():
    """A big-endian TIFF structure with one IFD: orientation and resolution, 72 dpi."""
    entries = [
        (0x0112, 3, 1, struct.pack(">HH", 1, 0)),  # Orientation: top-left
        (0x011A, 5, 1, None),  # XResolution
        (0x011B, 5, 1, None),  # YResolution
        (0x0128, 3, 1, struct.pack(">HH", 2, 0)),  # ResolutionUnit: inch
    ]
    ifd_size = 2 + 12 * len(entries) + 4
    extra_offset = 8 + ifd_size
    ifd, extra = struct.pack(">H", len(entries)), b""
    for tag, kind, count, inline in entries:
        if inline is None:
            value = struct.pack(">I", extra_offset + len(extra))
            extra += struct.pack(">II", 72, 1)
        else:
            value = inline
        ifd += struct.pack(">HHI", tag, kind, count) + value
    ifd += struct.pack(">I", 0)  # no further IFD
    return b"MM\0\x2a" + struct.pack(">I", 8) + ifd + extra


# ---------------------------------------------------------------- background


def clamp(value):
    return 0 if value < 0 else 255 if value > 255 else int(value)


RING_RADIUS = 62
ARC_START, ARC_SPAN = 345.0, 315.0  # degrees, clockwise on screen


def emblem_light(dx, dy):
    distance = math.hypot(dx, dy)
    u = (math.degrees(math.atan2(dy, dx)) - ARC_START) % 360
    light = 0.0
    if u <= ARC_SPAN:
        strength = (0.3 + 0.7 * u / ARC_SPAN) * min(1.0, u / 20, (ARC_SPAN - u) / 1.5)
        ring = max(0.0, 1.0 - abs(distance - RING_RADIUS) / 3.2)
        halo = math.exp(-((distance - RING_RADIUS) / 14) ** 2) * 0.25
        light = (ring * 0.55 + halo) * strength
    head = math.radians(ARC_START + ARC_SPAN)
    hx, hy = RING_RADIUS * math.cos(head), RING_RADIUS * math.sin(head)
    along = (dx - hx) * -math.sin(head) + (dy - hy) * math.cos(head)
    across = (dx - hx) * math.cos(head) + (dy - hy) * math.sin(head)
    arrow = min(along + 2.0, (18 - along) * 0.75 - abs(across))
    return max(light, min(1.0, max(0.0, arrow)) * 0.8)


def background_pixel(x, y, noise):
    t = y / (BG_HEIGHT - 1)
    # Deep navy at the top, almost black below, where the white texts sit.
    r, g, b = 16 - 8 * t, 26 - 14 * t, 46 - 26 * t
    # A soft cool glow behind the emblem.
    dx, dy = (x - 320) / 300, (y - 135) / 190
    glow = math.exp(-(dx * dx + dy * dy) * 2.2)
    r, g, b = r + 14 * glow, g + 40 * glow, b + 62 * glow
    # The emblem: an open ring that brightens towards an arrowhead, like a circular arrow.
    light = emblem_light(x - 320, y - 135)
    r, g, b = r + 90 * light, g + 150 * light, b + 190 * light
    # Two faint diagonal bands for depth.
    band = math.exp(-(((x * 0.5 + y) - 360) / 70) ** 2) * 5
    band += math.exp(-(((x * 0.5 + y) - 520) / 40) ** 2) * 3
    r, g, b = r + band, g + band * 1.3, b + band * 1.8
    # Dither to hide banding of the gradient.
    return clamp(r + noise), clamp(g + noise), clamp(b + noise)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def background_png():
    seed = 12345
    rows = bytearray()
    for y in range(BG_HEIGHT):
        rows.append(0)  # filter: none
        for x in range(BG_WIDTH):
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            noise = ((seed >> 16) % 3) - 1
            rows.extend(background_pixel(x, y, noise))
    ihdr = struct.pack(">IIBBBBB", BG_WIDTH, BG_HEIGHT, 8, 2, 0, 0, 0)
    iccp = b"Update dialog RGB\0\0" + zlib.compress(icc_profile(), 9)
    return (
        b"\x89PNG\r\n\x1a\n"
        + png_chunk(b"IHDR", ihdr)
        + png_chunk(b"iCCP", iccp)
        + png_chunk(b"eXIf", exif_blob())
        + png_chunk(b"IDAT", zlib.compress(bytes(rows), 9))
        + png_chunk(b"IEND", b"")
    )


# ---------------------------------------------------------------- icon


def icon_coverage(x, y):
    """Share (0..1) of the icon shape at pixel centre (x, y): a rounded square with an arrow."""
    inset, radius = 3.0, 12.0
    qx = max(abs(x - 32) - (32 - inset - radius), 0.0)
    qy = max(abs(y - 32) - (32 - inset - radius), 0.0)
    return 1.0 if math.hypot(qx, qy) <= radius else 0.0


def icon_arrow(x, y):
    """True inside the white download arrow (y grows downwards)."""
    shaft = 27 <= x <= 37 and 14 <= y <= 34
    head = 34 <= y <= 46 and abs(x - 32) <= (46 - y) * 1.25
    tray = 48 <= y <= 52 and 16 <= x <= 48
    return shaft or head or tray


def icon_pixel(px, py):
    samples = 4
    alpha = white = 0.0
    for sy in range(samples):
        for sx in range(samples):
            x = px + (sx + 0.5) / samples
            y = py + (sy + 0.5) / samples
            inside = icon_coverage(x, y)
            alpha += inside
            white += inside if icon_arrow(x, y) else 0.0
    alpha /= samples * samples
    white = white / (samples * samples) / alpha if alpha else 0.0
    t = py / (ICON_SIZE - 1)
    base = (30 + 20 * t, 120 - 40 * t, 210 - 70 * t)
    r, g, b = (c + (255 - c) * white for c in base)
    return clamp(b), clamp(g), clamp(r), clamp(alpha * 255)


def icon_ico():
    colour, mask = bytearray(), bytearray()
    for py in reversed(range(ICON_SIZE)):  # DIB rows are stored bottom-up
        bits = 0
        for px in range(ICON_SIZE):
            pixel = icon_pixel(px, py)
            colour.extend(pixel)
            bits = (bits << 1) | (1 if pixel[3] == 0 else 0)
        mask.extend(bits.to_bytes(ICON_SIZE // 8, "big"))
    image_size = 40 + len(colour) + len(mask)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", ICON_SIZE, ICON_SIZE, 0, 0, 1, 32, image_size, 6 + 16)
    dib = struct.pack(
        "<IiiHHIIiiII", 40, ICON_SIZE, ICON_SIZE * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0
    )
    return header + entry + dib + bytes(colour) + bytes(mask)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join("ui", "resources")
    os.makedirs(out_dir, exist_ok=True)
    for name, data in (("update_bg.png", background_png()), ("icon.ico", icon_ico())):
        with open(os.path.join(out_dir, name), "wb") as out:
            out.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
