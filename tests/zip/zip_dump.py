"""Reads a ZIP archive with Python's zipfile and prints one line per entry:
name, method, flags, size and the CRC-32 of the bytes read back."""
import sys
import zipfile
import zlib

try:
    with zipfile.ZipFile(sys.argv[1]) as archive:
        for info in archive.infolist():
            data = archive.read(info)
            print(info.filename, info.compress_type, info.flag_bits, len(data),
                  "%08x" % zlib.crc32(data))
except Exception as error:  # the test reports whatever went wrong
    print("ERROR", type(error).__name__, error)
