#!/usr/bin/env python3
"""Turns the program's XPM artwork into the Windows icon and cursor files.

    xpm_to_win.py icon OUT.ico IMAGE.xpm...   one icon file, one entry per image
    xpm_to_win.py cursor OUT.cur IMAGE.xpm    a monochrome cursor; the hot spot
                                              comes from the XPM's header

Images with at most 2 colours (besides the transparent "None") become
1 bit per pixel with a black and white palette; the others 4 bits per pixel
with the standard 16-colour palette, every colour mapped exactly onto it.
"""
import re
import struct
import sys

# The 16 colours every Windows display has; icons of 16 colours index them.
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
MONO = [(0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)]


class Image:
    def __init__(self, width, height, pixels, hotspot):
        self.width, self.height = width, height
        self.pixels = pixels  # rows of (r, g, b) or None for transparent
        self.hotspot = hotspot


def read_xpm(path):
    with open(path, encoding="ascii") as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    header = strings[0].split()
    width, height, ncolors, cpp = (int(v) for v in header[:4])
    hotspot = (int(header[4]), int(header[5])) if len(header) >= 6 else (0, 0)
    colours = {}
    for line in strings[1:1 + ncolors]:
        key, words = line[:cpp], line[cpp:].split()
        value = words[words.index("c") + 1]
        if value.lower() == "none":
            colours[key] = None
        elif re.fullmatch(r"#[0-9A-Fa-f]{6}", value):
            colours[key] = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
        else:
            sys.exit(f"{path}: colour {value!r} is not #RRGGBB or None")
    rows = strings[1 + ncolors:1 + ncolors + height]
    if len(rows) != height or any(len(r) != width * cpp for r in rows):
        sys.exit(f"{path}: pixel rows do not match the {width}x{height} header")
    pixels = [[colours[r[x * cpp:(x + 1) * cpp]] for x in range(width)] for r in rows]
    return Image(width, height, pixels, hotspot)


def palette_for(image):
    used = {p for row in image.pixels for p in row if p is not None}
    palette = MONO if used <= set(MONO) else VGA16
    missing = used - set(palette)
    if missing:
        sys.exit(f"colours {sorted(missing)} are not in the standard 16-colour palette")
    return palette


def pack_rows(rows, bits):
    """Bottom-up rows of indices, each padded to a multiple of 32 bits."""
    out = bytearray()
    for row in reversed(rows):
        acc, n, line = 0, 0, bytearray()
        for value in row:
            acc = (acc << bits) | value
            n += bits
            if n == 8:
                line.append(acc)
                acc, n = 0, 0
        if n:
            line.append(acc << (8 - n))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def dib(image):
    """The image as an icon resource stores it: header, palette, colour bits, mask."""
    palette = palette_for(image)
    bits = 1 if len(palette) == 2 else 4
    # Transparent pixels are black in the colour bits and set in the mask, so
    # the screen shows through unchanged.
    colour = [[palette.index(p) if p is not None else 0 for p in row] for row in image.pixels]
    mask = [[1 if p is None else 0 for p in row] for row in image.pixels]
    xor_bits, and_bits = pack_rows(colour, bits), pack_rows(mask, 1)
    header = struct.pack("<IiiHHIIiiII", 40, image.width, image.height * 2, 1, bits, 0,
                         len(xor_bits) + len(and_bits), 0, 0, len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + table + xor_bits + and_bits, len(palette), bits


def icon_file(images, kind):
    blobs = [dib(image) for image in images]
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    for image, (blob, colours, bits) in zip(images, blobs):
        if kind == 1:
            second, third = 1, bits                  # planes, bits per pixel
        else:
            second, third = image.hotspot            # a cursor's hot spot
        out += struct.pack("<BBBBHHII", image.width % 256, image.height % 256, colours % 256, 0,
                           second, third, len(blob), offset)
        offset += len(blob)
    for blob, _, _ in blobs:
        out += blob
    return bytes(out)


def main(argv):
    if len(argv) < 4 or argv[1] not in ("icon", "cursor") or (argv[1] == "cursor" and len(argv) != 4):
        sys.exit(__doc__)
    images = [read_xpm(path) for path in argv[3:]]
    if argv[1] == "cursor" and len(palette_for(images[0])) != 2:
        sys.exit("a cursor must be monochrome")
    with open(argv[2], "wb") as f:
        f.write(icon_file(images, 1 if argv[1] == "icon" else 2))


if __name__ == "__main__":
    main(sys.argv)
