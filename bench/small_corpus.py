#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""The small-file corpus of the benchmarks: copies of real camera pictures, each with a date of its
own.

The pictures are read in place from a folder of camera JPEGs (never copied into the repository);
every copy gets a unique date written over its DateTimeOriginal, DateTimeDigitized and DateTime
values, so no two pictures of the corpus compete for a name. A picture qualifies when its Exif
block holds both DateTimeOriginal and DateTimeDigitized as 20-byte texts; which of those every
tool then dates cleanly is for the benchmark to find out (see run.py).
"""

import datetime
import os
import struct

import camera_corpus

FIRST_DATE = datetime.datetime(2010, 3, 1, 8, 0, 0)
DATE_STEP = datetime.timedelta(seconds=97)
_DATE_TAGS = (0x0132, 0x9003, 0x9004)


def _date_offsets(data):
    """File offsets of the 20-byte date texts of DateTime, DateTimeOriginal and
    DateTimeDigitized: {tag: offset}. Empty when the file has no readable Exif block."""
    if data[:3] != b"\xff\xd8\xff":
        return {}
    at = 2
    while at + 4 <= len(data) and data[at] == 0xFF:
        marker = data[at + 1]
        if marker == 0xDA or marker == 0xD9:
            break
        if marker == 0xFF:  # fill byte
            at += 1
            continue
        length = struct.unpack(">H", data[at + 2:at + 4])[0]
        if marker == 0xE1 and data[at + 4:at + 10] == b"Exif\0\0":
            return _tiff_date_offsets(data, at + 10, at + 2 + length)
        at += 2 + length
    return {}


def _tiff_date_offsets(data, tiff, end):
    order = {b"II": "<", b"MM": ">"}.get(data[tiff:tiff + 2])
    if order is None:
        return {}

    def entries(ifd):
        if ifd <= 0 or tiff + ifd + 2 > end:
            return
        count = struct.unpack(order + "H", data[tiff + ifd:tiff + ifd + 2])[0]
        for i in range(count):
            at = tiff + ifd + 2 + 12 * i
            if at + 12 > end:
                return
            yield struct.unpack(order + "HHII", data[at:at + 12])

    found = {}
    exif_ifd = 0
    for tag, kind, count, value in entries(struct.unpack(order + "I", data[tiff + 4:tiff + 8])[0]):
        if tag == 0x8769:
            exif_ifd = value if kind == 4 else 0
        elif tag == 0x0132 and kind == 2 and count == 20 and tiff + value + 20 <= end:
            found[tag] = tiff + value
    for tag, kind, count, value in entries(exif_ifd):
        if tag in (0x9003, 0x9004) and kind == 2 and count == 20 and tiff + value + 20 <= end:
            found[tag] = tiff + value
    return found


class Source:
    """One camera picture of the folder, ready to be patched."""

    def __init__(self, name, data, offsets):
        self.name, self.data, self.offsets = name, data, offsets

    def with_date(self, date):
        patched = bytearray(self.data)
        text = date.strftime(camera_corpus.EXIF_TIME_FORMAT).encode("ascii") + b"\0"
        for offset in self.offsets.values():
            patched[offset:offset + 20] = text
        return bytes(patched)


def candidates(folder):
    """The pictures of `folder` that carry both dates a dating tool may read, in name order."""
    found = []
    for name in sorted(os.listdir(folder)):
        if not name.lower().endswith((".jpg", ".jpeg")):
            continue
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as file:
            data = file.read()
        offsets = _date_offsets(data)
        if 0x9003 in offsets and 0x9004 in offsets:
            found.append(Source(name, data, offsets))
    return found


def plan(sources, copies):
    """The corpus's pictures: copy K of every source lies in directory copyKK under its own name,
    with a date no other picture of the corpus has."""
    pictures = []
    date = FIRST_DATE
    for copy in range(copies):
        for source in sources:
            pictures.append((camera_corpus.Picture("copy%02d" % (copy + 1), source.name, date),
                             source))
            date += DATE_STEP
    return pictures


def write(root, pictures):
    made = set()
    for picture, source in pictures:
        directory = os.path.join(root, picture.directory)
        if directory not in made:
            os.makedirs(directory, exist_ok=True)
            made.add(directory)
        camera_corpus.write_file(os.path.join(directory, picture.name),
                                 [source.with_date(picture.date)])
