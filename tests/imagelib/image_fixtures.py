"""PNG and JPEG files made by other programs, and their view of ours.

Run with Debian's /usr/bin/python3 (PIL, numpy):
  image_fixtures.py png DIR       PNG files of every colour type and depth, each
                                  with NAME.expected (the elements, row 0 at the
                                  top, channels R, G, B, A, 16-bit little-endian)
                                  and a line "NAME WIDTH HEIGHT CHANNELS BITS" in
                                  DIR/manifest.txt
  image_fixtures.py jpeg DIR      JPEG files, NAME.expected is PIL's own decode
  image_fixtures.py bmp DIR       1 and 4-bit and run-length coded BMP files,
                                  NAME.expected is PIL's decode (grey when every
                                  palette entry is, RGB otherwise)
  image_fixtures.py read FILE...  each FILE's elements as PIL sees them, into
                                  FILE.theirs (16-bit colour PNG: the high bytes)
  image_fixtures.py quality BASE Q...  for each Q, "same" when BASE-Q.jpg has the
                                  quantisation tables PIL writes at quality Q
  image_fixtures.py seeds DIR     the fuzz seed corpus (fuzz/corpus): small files
                                  into DIR/png, DIR/jpeg and DIR/bitmap
"""
import io
import os
import struct
import sys
import zlib

import numpy as np
from PIL import Image


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def scanlines(samples, bits):
    """Rows of filter type 0; samples is (h, w*c) of values below 2**bits."""
    rows = []
    for row in samples:
        if bits == 16:
            packed = row.astype(">u2").tobytes()
        elif bits == 8:
            packed = row.astype(np.uint8).tobytes()
        else:
            per = 8 // bits
            padded = np.zeros(-(-len(row) // per) * per, np.uint8)
            padded[: len(row)] = row
            groups = padded.reshape(-1, per).astype(np.uint16)
            shifts = np.arange(per - 1, -1, -1) * bits
            packed = (groups << shifts).sum(axis=1).astype(np.uint8).tobytes()
        rows.append(b"\0" + packed)
    return b"".join(rows)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def write_png(path, pixels, colour_type, bits, extra=b"", interlaced=False):
    """A PNG written by hand; pixels is (h, w, c) of file samples."""
    h, w, c = pixels.shape
    if interlaced:
        data = b""
        for x0, y0, dx, dy in ADAM7:
            sub = pixels[y0::dy, x0::dx]
            if sub.size:
                data += scanlines(sub.reshape(sub.shape[0], -1), bits)
    else:
        data = scanlines(pixels.reshape(h, w * c), bits)
    header = struct.pack(">IIBBBBB", w, h, bits, colour_type, 0, 0, 1 if interlaced else 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra)
        f.write(chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b""))


def png_fixtures(out, w=13, h=7):
    rng = np.random.default_rng(7)
    cases = []

    def add(name, expected):
        expected = expected.reshape(h, w, -1)
        bits = 16 if expected.dtype == np.uint16 else 8
        expected.astype("<u2" if bits == 16 else np.uint8).tofile(os.path.join(out, name + ".expected"))
        cases.append("%s %d %d %d %d" % (name, w, h, expected.shape[2], bits))

    def random(c, top=255, dtype=np.uint8):
        return rng.integers(0, top + 1, (h, w, c)).astype(dtype)

    # What PIL writes.
    bits1 = random(1, 1)
    Image.fromarray(bits1[:, :, 0].astype(bool)).save(os.path.join(out, "pil_grey1.png"))
    add("pil_grey1", bits1 * 255)
    for mode, c in (("L", 1), ("LA", 2), ("RGB", 3), ("RGBA", 4)):
        a = random(c)
        Image.fromarray(a[:, :, 0] if c == 1 else a, mode).save(os.path.join(out, "pil_%s.png" % mode))
        add("pil_" + mode, a)
    grey16 = random(1, 65535, np.uint16)
    Image.fromarray(grey16[:, :, 0]).save(os.path.join(out, "pil_grey16.png"))
    add("pil_grey16", grey16)
    for bits in (1, 2, 4, 8):
        palette = rng.integers(0, 256, (2**bits, 3)).astype(np.uint8)
        index = random(1, 2**bits - 1)[:, :, 0]
        image = Image.fromarray(index, "P")
        image.putpalette(palette.tobytes())
        image.save(os.path.join(out, "pil_palette%d.png" % bits), bits=bits)
        add("pil_palette%d" % bits, palette[index])
    # A palette whose entries carry transparency expands to RGBA.
    palette = rng.integers(0, 256, (16, 4)).astype(np.uint8)
    index = random(1, 15)[:, :, 0]
    image = Image.fromarray(index, "P")
    image.putpalette(palette[:, :3].tobytes())
    image.save(os.path.join(out, "pil_palette_alpha.png"), transparency=palette[:, 3].tobytes())
    add("pil_palette_alpha", palette[index])

    # What PIL cannot write, written by hand.
    for bits in (2, 4):
        g = random(1, 2**bits - 1)
        write_png(os.path.join(out, "grey%d.png" % bits), g, 0, bits)
        add("grey%d" % bits, g * (255 // (2**bits - 1)))
    for name, colour_type, c in (("grey_alpha16", 4, 2), ("rgb16", 2, 3), ("rgba16", 6, 4)):
        a = random(c, 65535, np.uint16)
        write_png(os.path.join(out, name + ".png"), a, colour_type, 16)
        add(name, a)
    # One grey level marked transparent: grey + alpha.
    g = random(1, 9)
    write_png(os.path.join(out, "grey_trns.png"), g, 0, 8, chunk(b"tRNS", struct.pack(">H", 7)))
    add("grey_trns", np.concatenate([g, np.where(g == 7, 0, 255).astype(np.uint8)], axis=2))
    rgb = random(3)
    write_png(os.path.join(out, "rgb_interlaced.png"), rgb, 2, 8, interlaced=True)
    add("rgb_interlaced", rgb)
    g16 = random(1, 65535, np.uint16)
    write_png(os.path.join(out, "grey16_interlaced.png"), g16, 0, 16, interlaced=True)
    add("grey16_interlaced", g16)

    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(cases) + "\n")


def smooth(h, w, c, rng):
    """A picture JPEG keeps close: gradients plus a little noise."""
    y, x = np.mgrid[0:h, 0:w]
    planes = [(x * (3 + k) + y * (5 - k) + 40 * k) % 256 for k in range(c)]
    noisy = np.stack(planes, axis=2) + rng.integers(-8, 9, (h, w, c))
    return np.clip(noisy, 0, 255).astype(np.uint8)


def jpeg_fixtures(out, w=37, h=21):
    rng = np.random.default_rng(11)
    cases = []
    files = {
        "grey": (Image.fromarray(smooth(h, w, 1, rng)[:, :, 0], "L"), {}),
        "rgb": (Image.fromarray(smooth(h, w, 3, rng)), {}),
        "rgb444": (Image.fromarray(smooth(h, w, 3, rng)), {"subsampling": 0}),
        "progressive": (Image.fromarray(smooth(h, w, 3, rng)), {"progressive": True}),
        "cmyk": (Image.fromarray(smooth(h, w, 4, rng), "CMYK"), {}),
    }
    for name, (image, options) in files.items():
        path = os.path.join(out, name + ".jpg")
        image.save(path, quality=90, **options)
        theirs = np.array(Image.open(path).convert("L" if image.mode == "L" else "RGB"))
        theirs.tofile(os.path.join(out, name + ".expected"))
        cases.append("%s %d %d %d 8" % (name, w, h, 1 if theirs.ndim == 2 else 3))
    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(cases) + "\n")


def write_bmp(path, bits, palette, rows, compression=0, top_down=False, colours=None):
    """rows: (height, bytes) in file order; palette: RGB triples."""
    data, table = b"".join(rows[1]), b"".join(bytes([b, g, r, 0]) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, rows[0], -len(rows[1]) if top_down else len(rows[1]), 1, bits,
                       compression, len(data), 2835, 2835, len(palette) if colours is None else colours, 0)
    with open(path, "wb") as f:
        offset = 54 + len(table)
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + info + table + data)


def packed_rows(index, bits):
    """Indices packed from the high bits down, rows padded to 4 bytes."""
    w = index.shape[1]
    bits_row = np.zeros((index.shape[0], (w * bits + 31) // 32 * 32), np.uint8)
    for b in range(bits):
        bits_row[:, b:w * bits:bits] = index >> (bits - 1 - b) & 1
    return w, [np.packbits(row).tobytes() for row in bits_row]


def run_length_rows(w, h, bits, rng):
    """Runs of 1 to 6 and absolute groups of 4 (no skips: PIL reads those differently)."""
    rows = []
    for _ in range(h):
        row, x = bytearray(), 0
        while x < w:
            if x + 4 <= w and rng.integers(2):  # four indices as stored
                n, code = 4, [0, 4] + rng.integers(0, 256, 2 if bits == 4 else 4).tolist()
            else:  # n of one index (RLE4: of the byte's two in turn)
                n = int(min(rng.integers(1, 7), w - x))
                code = [n, int(rng.integers(0, 256))]
            row += bytes(code)
            x += n
        rows.append(bytes(row) + bytes([0, 0]))
    rows[-1] = rows[-1][:-2] + bytes([0, 1])
    return w, rows


def bmp_fixtures(out, w=13, h=7):
    rng = np.random.default_rng(11)
    cases = []

    def add(name, *args, **kw):
        path = os.path.join(out, name + ".bmp")
        if args:
            write_bmp(path, *args, **kw)
        image = Image.open(path)
        grey = image.mode != "P" or all(len(set(c)) == 1 for c in np.reshape(image.getpalette(), (-1, 3)).tolist())
        np.array(image.convert("L" if grey else "RGB")).tofile(os.path.join(out, name + ".expected"))
        cases.append("%s %d %d %d 8" % (name, w, h, 1 if grey else 3))

    def colours(n):
        return [tuple(c) for c in rng.integers(0, 256, (n, 3)).tolist()]

    Image.fromarray(rng.integers(0, 2, (h, w)).astype(bool)).save(os.path.join(out, "pil_bits1.bmp"))
    add("pil_bits1")
    for bits in (1, 4):
        index = rng.integers(0, 2**bits, (h, w))
        add("bits%d" % bits, bits, colours(2**bits), packed_rows(index[::-1], bits))
        add("bits%d_top_down" % bits, bits, colours(5), packed_rows(index % 5, bits), top_down=True)
    ramp = [(i * 17,) * 3 for i in range(16)]
    add("bits4_grey", 4, ramp, packed_rows(rng.integers(0, 16, (h, w)), 4), colours=0)
    add("rle4", 4, colours(16), run_length_rows(w, h, 4, rng), 2)
    add("rle8", 8, colours(256), run_length_rows(w, h, 8, rng), 1)
    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(cases) + "\n")


def read_back(paths):
    for path in paths:
        image = Image.open(path)
        a = np.array(image)
        if image.mode in ("I;16", "I"):
            a = a.astype("<u2")
        elif image.mode == "RGBA" and open(path, "rb").read(26)[25] == 4:
            a = a[:, :, [0, 3]]  # PIL shows 16-bit grey + alpha as RGBA
        a.tofile(path + ".theirs")


def quality(path, levels):
    """One line per level: "same" when PIL writes the tables path-Q.jpg has."""
    for q in levels:
        ours = Image.open("%s-%d.jpg" % (path, q))
        buffer = io.BytesIO()
        ours.save(buffer, "JPEG", quality=q)
        print("same" if Image.open(buffer).quantization == ours.quantization else "different")


def seeds(out):
    """Small versions of the fixtures, without their expected elements."""
    for kind, make, size in (("png", png_fixtures, (5, 3)), ("jpeg", jpeg_fixtures, (16, 8)),
                             ("bitmap", bmp_fixtures, (5, 3))):
        folder = os.path.join(out, kind)
        os.makedirs(folder, exist_ok=True)
        make(folder, *size)
        for name in os.listdir(folder):
            if name.endswith((".expected", ".txt")):
                os.remove(os.path.join(folder, name))


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "png":
        png_fixtures(args[0])
    elif command == "jpeg":
        jpeg_fixtures(args[0])
    elif command == "bmp":
        bmp_fixtures(args[0])
    elif command == "read":
        read_back(args)
    elif command == "quality":
        quality(args[0], [int(q) for q in args[1:]])
    elif command == "seeds":
        seeds(args[0])
