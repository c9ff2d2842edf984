"""Reads a ZIP archive with Python's zipfile: checks it with testzip, then
prints one line per entry: name, method, flags, size and the CRC-32 of the
bytes read back (in pieces, so entries of any size fit)."""
import sys
import zipfile
import zlib

try:
    with zipfile.ZipFile(sys.argv[1]) as archive:
        bad = archive.testzip()
        if bad is not None:
            print("ERROR testzip", bad)
        for info in archive.infolist():
            crc, size = 0, 0
            with archive.open(info) as member:
                while chunk := member.read(1 << 22):
                    crc = zlib.crc32(chunk, crc)
                    size += len(chunk)
            print(info.filename, info.compress_type, info.flag_bits, size, "%08x" % crc)
except Exception as error:  # the test reports whatever went wrong
    print("ERROR", type(error).__name__, error)
