"""Archives past the classic ZIP limits, made by the real binary and read
back by unzip -t and Python's zipfile: an entry past 4 GiB, entries whose
offsets pass 4 GiB, and 70,000 entries. Sparse sources keep the disk cost
to the archives themselves, which each test deletes. ctest label: large."""
import shutil
import zlib
import zipfile

import pytest

from test_archive import unzip_ok

SIZE = (4 << 30) + (1 << 20)      # just past what 32-bit fields hold
MARK = b"the end of a sparse file"
LONG = 900                        # seconds a run may take on a slow machine


@pytest.fixture
def bigdir(workdir):
    yield workdir
    shutil.rmtree(workdir, ignore_errors=True)


def sparse(path, size):
    """A file of `size` bytes: a hole, then MARK. Returns (size, crc)."""
    with open(path, "wb") as f:
        f.truncate(size - len(MARK))
        f.seek(size - len(MARK))
        f.write(MARK)
    return size, crc_of(open(path, "rb"))


def crc_of(stream):
    crc = 0
    with stream:
        while chunk := stream.read(1 << 22):
            crc = zlib.crc32(chunk, crc)
    return crc


def read_back(archive):
    """Checks the archive with unzip -t and zipfile's testzip, then reads
    every member back: {name: (size, crc)}."""
    ok, report = unzip_ok(archive)
    assert ok, report
    got = {}
    with zipfile.ZipFile(archive) as z:
        assert z.testzip() is None
        for info in z.infolist():
            got[info.filename] = (info.file_size, crc_of(z.open(info)))
    return got


def test_an_entry_past_4_gib_is_deflated_with_zip64_sizes(run, bigdir):
    expect = sparse(bigdir / "big.bin", SIZE)
    r = run("/CreateOnly", "/Zip", "/File:big.bin", timeout=LONG)
    assert r.code == 0
    archive = bigdir / "Compressed.zip"
    assert archive.stat().st_size < SIZE // 500
    assert read_back(archive) == {"big.bin": expect}


def test_entries_whose_offsets_pass_4_gib(run, bigdir):
    # The stored entry makes a real 4 GiB archive: a small disk cannot hold it.
    if shutil.disk_usage(bigdir).free < SIZE + (1 << 30):
        pytest.skip("needs 5 GiB of free disk")
    top = bigdir / "data"
    top.mkdir()
    text = b"after the first 4 GiB\n" * 1000
    (top / "b.txt").write_bytes(text)
    (top / "c.gz").write_bytes(b"stored")
    expect = {"a.gz": sparse(top / "a.gz", SIZE),   # stored: 4 GiB of archive
              "b.txt": (len(text), zlib.crc32(text)),
              "c.gz": (6, zlib.crc32(b"stored"))}
    r = run("/CreateOnly", "/Dir:data", timeout=LONG)
    assert r.code == 0
    archive = bigdir / "Compressed.zip"
    with zipfile.ZipFile(archive) as z:
        assert [i.header_offset > SIZE for i in z.infolist()] == [False, True, True]
    assert read_back(archive) == expect


def test_seventy_thousand_entries(run, bigdir):
    top = bigdir / "many"
    top.mkdir()
    for i in range(70000):
        (top / ("f%05d" % i)).touch()
    r = run("/CreateOnly", "/Zip:many.zip", "/Dir:many", timeout=LONG)
    assert r.code == 0
    got = read_back(bigdir / "many.zip")
    assert len(got) == 70000
    assert set(got.values()) == {(0, 0)}
