#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""The camera-like picture corpus of the benchmarks.

Every picture is a whole JPEG as a camera writes it: SOI, an APP1 Exif block (IFD0 with Make, Model
and DateTime; an Exif IFD whose DateTimeOriginal and DateTimeDigitized values lie back to back; a
Canon-style maker note of 2 KiB; IFD1 with a decodable thumbnail JPEG), then DQT, SOF0, DHT, SOS,
the entropy-coded data (filler of the chosen size) and EOI. The header is built once; each picture
patches its three dates and its file number into a copy of it and writes the shared bulk after it,
so the corpus is written as fast as the disk takes it.

Pictures go 500 to a directory (100CANON, 101CANON, ...), named IMG_0001.JPG on. The dates rise
by a few seconds to a few minutes from one picture to the next; about 1.3% of the pictures share
the date of the picture before them in their directory, as a burst does. The same seed gives the
same bytes.

    bench/camera_corpus.py DIR [-n PICTURES] [--bulk BYTES] [--seed SEED]
"""

import argparse
import datetime
import os
import random
import struct
import sys
import time

PER_DIRECTORY = 500
SHARED_DATE_SHARE = 0.013
DEFAULT_BULK = 3 * 1000 * 1000
# Every generated file carries this modification time until a tool dates it: far from every EXIF
# date of the corpus, and not a time any name of the corpus encodes.
FILE_TIME = 1_700_000_000
EXIF_TIME_FORMAT = "%Y:%m:%d %H:%M:%S"

ASCII, SHORT, LONG, RATIONAL, UNDEFINED, SRATIONAL = 2, 3, 4, 5, 7, 10
_TYPE_SIZES = {ASCII: 1, SHORT: 2, LONG: 4, RATIONAL: 8, UNDEFINED: 1, SRATIONAL: 8}

IMAGE_WIDTH, IMAGE_HEIGHT = 5616, 3744


# --- TIFF directories ---------------------------------------------------------------------------

def _ascii(text, size=None):
    raw = text.encode("ascii") + b"\0"
    return raw.ljust(size, b"\0") if size else raw


def _pack_values(kind, values):
    if kind in (ASCII, UNDEFINED):
        return bytes(values)
    if kind == SHORT:
        return struct.pack("<%dH" % len(values), *values)
    if kind == LONG:
        return struct.pack("<%dI" % len(values), *values)
    if kind == RATIONAL:
        return b"".join(struct.pack("<II", n, d) for n, d in values)
    if kind == SRATIONAL:
        return b"".join(struct.pack("<ii", n, d) for n, d in values)
    raise ValueError(kind)


class _Ifd:
    """One TIFF directory placed at a known offset: entries, then the values that do not fit in
    an entry, in entry order (so two consecutive ASCII entries lie back to back)."""

    def __init__(self, entries):
        # entries: (tag, kind, values) with values as bytes for ASCII/UNDEFINED, else a list.
        self.entries = sorted(entries, key=lambda entry: entry[0])
        self.value_offsets = {}

    def size(self):
        data = sum(len(_pack_values(k, v)) + (len(_pack_values(k, v)) & 1)
                   for _, k, v in self.entries if len(_pack_values(k, v)) > 4)
        return 2 + 12 * len(self.entries) + 4 + data

    def build(self, offset, next_ifd=0, pointers=None):
        """The directory's bytes at `offset` (from the TIFF header); `pointers` gives the LONG
        value of pointer tags whose target is known only now."""
        pointers = pointers or {}
        head = struct.pack("<H", len(self.entries))
        data = b""
        data_offset = offset + 2 + 12 * len(self.entries) + 4
        for tag, kind, values in self.entries:
            if tag in pointers:
                values = [pointers[tag]]
            raw = _pack_values(kind, values)
            count = len(raw) // _TYPE_SIZES[kind]
            if len(raw) <= 4:
                head += struct.pack("<HHI", tag, kind, count) + raw.ljust(4, b"\0")
            else:
                self.value_offsets[tag] = data_offset + len(data)
                head += struct.pack("<HHII", tag, kind, count, data_offset + len(data))
                data += raw + (b"\0" if len(raw) & 1 else b"")
        return head + struct.pack("<I", next_ifd) + data


# --- JPEG pieces --------------------------------------------------------------------------------

def _huffman_codes(lengths_of_symbols):
    """Canonical codes for {symbol: length}; no code is all ones."""
    codes, code, last_length = {}, 0, 0
    for symbol, length in sorted(lengths_of_symbols.items(), key=lambda item: (item[1], item[0])):
        code <<= length - last_length
        last_length = length
        codes[symbol] = (code, length)
        code += 1
    return codes


# Small, legal Huffman tables: every DC category at 4 bits; EOB and (run 0..3, size 1..4) at 5.
_DC_SYMBOLS = {category: 4 for category in range(12)}
_AC_SYMBOLS = {0x00: 5, **{(run << 4) | size: 5 for run in range(4) for size in range(1, 5)}}
_DC_CODES = _huffman_codes(_DC_SYMBOLS)
_AC_CODES = _huffman_codes(_AC_SYMBOLS)


def _segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def _dht(table_class, table_id, lengths_of_symbols):
    counts = [0] * 16
    ordered = sorted(lengths_of_symbols.items(), key=lambda item: (item[1], item[0]))
    for _, length in ordered:
        counts[length - 1] += 1
    return bytes([table_class << 4 | table_id]) + bytes(counts) + bytes(s for s, _ in ordered)


def _dqt(table_id, base):
    return bytes([table_id]) + bytes(min(255, base + i // 4) for i in range(64))


def _frame_segments(width, height):
    """DQT, SOF0 (YCbCr 4:2:0), DHT and SOS of a baseline picture."""
    sof = struct.pack(">BHHB", 8, height, width, 3) + bytes([1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1])
    dht = b"".join(_dht(c, t, s) for c, s in ((0, _DC_SYMBOLS), (1, _AC_SYMBOLS)) for t in (0, 1))
    sos = bytes([3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0])
    return (_segment(0xDB, _dqt(0, 2) + _dqt(1, 3)) + _segment(0xC0, sof) + _segment(0xC4, dht)
            + _segment(0xDA, sos))


class _BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.bits = 0

    def put(self, code, length):
        self.acc = (self.acc << length) | code
        self.bits += length
        while self.bits >= 8:
            self.bits -= 8
            byte = (self.acc >> self.bits) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)
        self.acc &= (1 << self.bits) - 1

    def finish(self):
        if self.bits:
            self.put((1 << (8 - self.bits)) - 1, 8 - self.bits)
        return bytes(self.out)


def _thumbnail(rng, width=160, height=120):
    """A decodable baseline JPEG of noise, the size of a camera's thumbnail (about 6 KiB)."""
    writer = _BitWriter()
    mcus = ((width + 15) // 16) * ((height + 15) // 16)
    for _ in range(mcus * 6):
        category = rng.randrange(6)
        writer.put(*_DC_CODES[category])
        if category:
            writer.put(rng.getrandbits(category), category)
        position = 1
        for _ in range(rng.randrange(4, 12)):
            run, size = rng.randrange(4), rng.randrange(1, 5)
            if position + run > 63:
                break
            writer.put(*_AC_CODES[(run << 4) | size])
            writer.put(rng.getrandbits(size), size)
            position += run + 1
        if position <= 63:
            writer.put(*_AC_CODES[0x00])
    return b"\xff\xd8" + _frame_segments(width, height) + writer.finish() + b"\xff\xd9"


def _maker_note(size=2048):
    """A Canon-style maker note: a plain IFD whose value offsets count from the TIFF header. The
    file number's slot is found afterwards by its marker value."""
    entries = [
        (0x0001, SHORT, [98] + [i % 7 for i in range(48)]),  # camera settings: its size first
        (0x0002, SHORT, [0, 50, 36, 24]),  # focal length
        (0x0004, SHORT, [68] + [i % 5 for i in range(33)]),  # shot info: its size first
        (0x0006, ASCII, _ascii("Canon EOS 5D Mark III", 32)),
        (0x0007, ASCII, _ascii("Firmware Version 1.2.3", 32)),
        (0x0008, LONG, [0x4B52564E]),  # file number, patched per picture
        (0x0009, ASCII, _ascii("", 32)),
        (0x000C, LONG, [0x2C0C8AD3]),  # serial number
        (0x0010, LONG, [0x80000285]),  # model id
        (0x0095, ASCII, _ascii("EF24-105mm f/4L IS USM", 64)),
    ]
    filler_tag = 0x00F0
    probe = _Ifd(entries + [(filler_tag, UNDEFINED, b"\0" * 8)])
    entries.append((filler_tag, UNDEFINED, bytes(i & 0x7F for i in range(size - probe.size() + 8))))
    return entries


class Template:
    """The bytes every picture shares, and where its own values go."""

    def __init__(self, bulk_size=DEFAULT_BULK, seed=1):
        rng = random.Random(seed)
        placeholder = "2000:01:01 00:00:00"
        ifd0 = _Ifd([
            (0x010F, ASCII, _ascii("Canon")),
            (0x0110, ASCII, _ascii("Canon EOS 5D Mark III")),
            (0x0112, SHORT, [1]),
            (0x011A, RATIONAL, [(72, 1)]),
            (0x011B, RATIONAL, [(72, 1)]),
            (0x0128, SHORT, [2]),
            (0x0132, ASCII, _ascii(placeholder)),
            (0x0213, SHORT, [2]),
            (0x8769, LONG, [0]),
        ])
        # The maker note's own offsets are absolute, so it is built once its place is known.
        note_entries = _maker_note()
        note_size = _Ifd(note_entries).size()
        exif_entries = [
            (0x829A, RATIONAL, [(1, 125)]),
            (0x829D, RATIONAL, [(56, 10)]),
            (0x8822, SHORT, [2]),
            (0x8827, SHORT, [400]),
            (0x9000, UNDEFINED, b"0230"),
            (0x9003, ASCII, _ascii(placeholder)),
            (0x9004, ASCII, _ascii(placeholder)),
            (0x9101, UNDEFINED, b"\x01\x02\x03\x00"),
            (0x9201, SRATIONAL, [(458752, 65536)]),
            (0x9202, RATIONAL, [(327680, 65536)]),
            (0x9204, SRATIONAL, [(0, 1)]),
            (0x9207, SHORT, [5]),
            (0x9209, SHORT, [16]),
            (0x920A, RATIONAL, [(50, 1)]),
            (0x927C, UNDEFINED, b"\0" * note_size),
            (0xA000, UNDEFINED, b"0100"),
            (0xA001, SHORT, [1]),
            (0xA002, LONG, [IMAGE_WIDTH]),
            (0xA003, LONG, [IMAGE_HEIGHT]),
        ]
        exif = _Ifd(exif_entries)
        thumbnail = _thumbnail(rng)
        ifd1 = _Ifd([
            (0x0103, SHORT, [6]),
            (0x011A, RATIONAL, [(72, 1)]),
            (0x011B, RATIONAL, [(72, 1)]),
            (0x0128, SHORT, [2]),
            (0x0201, LONG, [0]),
            (0x0202, LONG, [len(thumbnail)]),
        ])

        ifd0_at = 8
        exif_at = ifd0_at + ifd0.size()
        ifd1_at = exif_at + exif.size()
        thumbnail_at = ifd1_at + ifd1.size()
        exif.build(exif_at)  # places the values: the maker note's offset is now known
        note_at = exif.value_offsets[0x927C]
        note = _Ifd(note_entries).build(note_at)
        assert len(note) == note_size
        exif_entries[exif_entries.index((0x927C, UNDEFINED, b"\0" * note_size))] = (
            0x927C, UNDEFINED, note)
        exif = _Ifd(exif_entries)
        tiff = (b"II*\0" + struct.pack("<I", ifd0_at)
                + ifd0.build(ifd0_at, ifd1_at, {0x8769: exif_at})
                + exif.build(exif_at)
                + ifd1.build(ifd1_at, 0, {0x0201: thumbnail_at})
                + thumbnail)
        app1 = _segment(0xE1, b"Exif\0\0" + tiff)
        assert len(app1) < 0xFFFF
        tiff_at = 2 + 4 + 6  # SOI, APP1 marker and length, "Exif\0\0"
        self.header = b"\xff\xd8" + app1 + _frame_segments(IMAGE_WIDTH, IMAGE_HEIGHT)
        self.date_offsets = [tiff_at + ifd0.value_offsets[0x0132],
                             tiff_at + exif.value_offsets[0x9003],
                             tiff_at + exif.value_offsets[0x9004]]
        assert self.date_offsets[2] == self.date_offsets[1] + 20, "the date pair lies together"
        self.number_offset = self.header.index(struct.pack("<I", 0x4B52564E))
        self.bulk = _filler(rng, bulk_size) + b"\xff\xd9"

    def picture_header(self, date, number):
        header = bytearray(self.header)
        text = date.strftime(EXIF_TIME_FORMAT).encode("ascii")
        for offset in self.date_offsets:
            header[offset:offset + 19] = text
        header[self.number_offset:self.number_offset + 4] = struct.pack("<I", number)
        return bytes(header)

    def picture_size(self):
        return len(self.header) + len(self.bulk)


def _filler(rng, size):
    """Entropy-coded data as a camera's looks: random bytes, each 0xFF followed by a stuffed 0."""
    return rng.randbytes(size).replace(b"\xff", b"\xff\x00")[:size].rstrip(b"\xff")


# --- The corpus ---------------------------------------------------------------------------------

class Picture:
    __slots__ = ("directory", "name", "date")

    def __init__(self, directory, name, date):
        self.directory, self.name, self.date = directory, name, date


def plan(count, seed=1):
    """The corpus's pictures in order: directory (relative), name and EXIF date."""
    rng = random.Random(seed * 7919 + 17)
    date = datetime.datetime(2019, 4, 20, 7, 0, 0) + datetime.timedelta(seconds=rng.randrange(86400))
    pictures = []
    for index in range(count):
        first_of_directory = index % PER_DIRECTORY == 0
        if index and not (not first_of_directory and rng.random() < SHARED_DATE_SHARE):
            date += datetime.timedelta(seconds=rng.randrange(2, 300))
        pictures.append(Picture("%dCANON" % (100 + index // PER_DIRECTORY),
                                "IMG_%04d.JPG" % (index % 9999 + 1), date))
    return pictures


def write_file(path, parts, file_time=FILE_TIME):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    try:
        total = sum(len(part) for part in parts)
        written = os.writev(fd, parts)
        if written != total:  # a short write: finish it piece by piece
            data = b"".join(parts)[written:]
            while data:
                data = data[os.write(fd, data):]
        os.utime(fd, (file_time, file_time))
    finally:
        os.close(fd)


def write(root, pictures, template):
    """Writes the pictures under `root` (created; must not hold them already)."""
    made = set()
    for number, picture in enumerate(pictures, 1):
        directory = os.path.join(root, picture.directory)
        if directory not in made:
            os.makedirs(directory, exist_ok=True)
            made.add(directory)
        write_file(os.path.join(directory, picture.name),
                   [template.picture_header(picture.date, number), template.bulk])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("directory")
    parser.add_argument("-n", "--pictures", type=int, default=2000)
    parser.add_argument("--bulk", type=int, default=DEFAULT_BULK,
                        help="bytes of entropy-coded data per picture (default 3,000,000)")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    start = time.monotonic()
    template = Template(args.bulk, args.seed)
    pictures = plan(args.pictures, args.seed)
    write(args.directory, pictures, template)
    spent = time.monotonic() - start
    shared = sum(1 for a, b in zip(pictures, pictures[1:])
                 if a.directory == b.directory and a.date == b.date)
    print("%d pictures of %d bytes in %s (%d share a neighbour's date), %.1f s"
          % (len(pictures), template.picture_size(), args.directory, shared, spent))


if __name__ == "__main__":
    sys.exit(main())
