"""Screen captures of the X display: read xwd's output, crop, sample, write PNG (stdlib only)."""
import struct
import subprocess
import zlib


class Capture:
    """A 24/32-bit TrueColor capture; pixel(x, y) gives (r, g, b)."""

    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    def pixel(self, x, y):
        row = self.rows[y]
        return row[3 * x], row[3 * x + 1], row[3 * x + 2]

    def crop(self, left, top, width, height):
        left, top = max(0, left), max(0, top)
        width, height = min(width, self.width - left), min(height, self.height - top)
        return Capture(width, height, [self.rows[y][3 * left:3 * (left + width)] for y in range(top, top + height)])

    def write_png(self, path):
        raw = b"".join(b"\x00" + bytes(row) for row in self.rows)

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6))
                      + chunk(b"IEND", b""))


def parse_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, version = fields[0], fields[1]
    width, height, byte_order = fields[4], fields[5], fields[7]
    bits_per_pixel, bytes_per_line, ncolors = fields[11], fields[12], fields[19]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    if version != 7 or bits_per_pixel not in (24, 32):
        raise ValueError("unsupported xwd capture: version %d, %d bits per pixel" % (version, bits_per_pixel))
    offset = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    little = byte_order == 0

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(red_mask), shift(green_mask), shift(blue_mask)]
    rows = []
    for y in range(height):
        start = offset + y * bytes_per_line
        line = data[start:start + step * width]
        row = bytearray(3 * width)
        for x in range(width):
            value = int.from_bytes(line[step * x:step * x + step], "little" if little else "big")
            row[3 * x] = (value >> shifts[0]) & 0xFF
            row[3 * x + 1] = (value >> shifts[1]) & 0xFF
            row[3 * x + 2] = (value >> shifts[2]) & 0xFF
        rows.append(row)
    return Capture(width, height, rows)


def capture_screen(display):
    data = subprocess.run(["xwd", "-root", "-silent", "-display", display], check=True,
                          stdout=subprocess.PIPE).stdout
    return parse_xwd(data)
