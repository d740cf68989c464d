#!/usr/bin/env python3
"""Fails unless every image given carries the sources' date, not the build's.

The date is SOURCE_DATE_EPOCH when it is set, else the committer date of the
commit checked out in SOURCE. Each image's PE time stamp must be that date, and
its checksum the one over the image as it is (the stamp is inside what the
checksum covers, so a stamp written after the checksum leaves it wrong).

  image_date.py SOURCE IMAGE...
"""
import os
import struct
import subprocess
import sys


def sources_date(source):
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    return int(subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=source, check=True,
                              capture_output=True, text=True).stdout)


def pe_checksum(data, field):
    """The loader's image checksum: 16-bit words summed with end-around carry,
    the checksum field counted as 0, plus the file's length."""
    padded = data[:field] + b"\0\0\0\0" + data[field + 4:] + b"\0" * (len(data) % 2)
    total = sum(struct.unpack("<%dH" % (len(padded) // 2), padded))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main(source, images):
    date = sources_date(source)
    problems = []
    if date <= 0:
        problems.append("the sources' date is %d" % date)
    for path in images:
        with open(path, "rb") as image:
            data = image.read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        stamp = struct.unpack_from("<I", data, pe + 8)[0]
        # CheckSum lies 64 bytes into the optional header in PE32 and PE32+ alike.
        field = pe + 24 + 64
        written, computed = struct.unpack_from("<I", data, field)[0], pe_checksum(data, field)
        if stamp != date:
            problems.append("%s: time stamp %d, expected the sources' date %d" % (path, stamp, date))
        if written != computed:
            problems.append("%s: checksum 0x%x, the image's is 0x%x" % (path, written, computed))
    for problem in problems:
        print(problem)
    if not problems:
        print("%d images dated %d, checksums right" % (len(images), date))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
