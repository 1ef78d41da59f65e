#!/usr/bin/env python3
"""Byte comparison of two files that skips the holes of sparse files (a fresh
card image is gigabytes of holes). Exit 0 when equal, 1 when they differ."""
import os
import sys


def data_extents(fd, size):
    pos = 0
    while pos < size:
        try:
            start = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError:
            return
        end = os.lseek(fd, start, os.SEEK_HOLE)
        yield start, end
        pos = end


def read_at(fd, off, n):
    os.lseek(fd, off, os.SEEK_SET)
    return os.read(fd, n)


def main(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        print(f"{a} and {b} differ in size")
        return 1
    size = os.path.getsize(a)
    fa, fb = os.open(a, os.O_RDONLY), os.open(b, os.O_RDONLY)
    # Every data extent of either file must hold the same bytes in both;
    # outside them both read as zeros.
    for fd in (fa, fb):
        for start, end in data_extents(fd, size):
            off = start
            while off < end:
                n = min(1 << 20, end - off)
                if read_at(fa, off, n) != read_at(fb, off, n):
                    print(f"{a} and {b} differ near byte {off}")
                    return 1
                off += n
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
