#!/usr/bin/env python3
"""What making N small files durable costs on this file system, one way against another.

    durability.py FOLDER [COUNT] [SIZE] [ROUNDS]

Each way writes COUNT files of SIZE bytes to temporary names in FOLDER and renames them to
their final names; the ways differ only in how they are made durable:
  none              no sync at all (the floor)
  fdatasync-each    fdatasync before each rename (what QSaveFile::commit does today)
  fdatasync-batch   no sync while writing; then fdatasync of every file, one after another
  syncfs-once       no sync while writing; then one syncfs() on the folder's file system
The ways take turns, ROUNDS times (default 3); prints the median ms per file of each.
"""
import ctypes
import os
import shutil
import statistics
import sys
import time

libc = ctypes.CDLL(None, use_errno=True)


def write_all(folder, count, data, sync_each):
    names = []
    for i in range(count):
        final = os.path.join(folder, "f%05d.bin" % i)
        fd = os.open(final + ".part", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.write(fd, data)
        if sync_each:
            os.fdatasync(fd)
        os.close(fd)
        os.rename(final + ".part", final)
        names.append(final)
    return names


def run(way, folder, count, data):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    os.sync()
    start = time.perf_counter()
    names = write_all(folder, count, data, way == "fdatasync-each")
    if way == "fdatasync-batch":
        for name in names:
            fd = os.open(name, os.O_RDONLY)
            os.fdatasync(fd)
            os.close(fd)
    elif way == "syncfs-once":
        fd = os.open(folder, os.O_RDONLY)
        if libc.syncfs(fd) != 0:
            raise OSError(ctypes.get_errno(), "syncfs")
        os.close(fd)
    return (time.perf_counter() - start) * 1000 / count


def main():
    folder = os.path.join(sys.argv[1], "durability")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 8192
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    ways = ["none", "fdatasync-each", "fdatasync-batch", "syncfs-once"]
    data = os.urandom(size)
    times = {way: [] for way in ways}
    for _ in range(rounds):
        for way in ways:
            times[way].append(run(way, folder, count, data))
    shutil.rmtree(folder, ignore_errors=True)
    for way in ways:
        print("%-16s %.3f ms per file (runs: %s)" % (
            way, statistics.median(times[way]), " ".join("%.3f" % t for t in times[way])))


if __name__ == "__main__":
    main()
