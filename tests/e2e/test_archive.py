"""Archives made by the real binary: /Zip and /CreateOnly on a file, /Dir:
with and without /Recurse, the "Adding file" lines, the archive failures
with exit codes 2, 3 and 4, what standard readers make of the result, and
archives streamed into a FIFO, a device or standard output."""
import io
import os
import select
import stat
import struct
import subprocess
import threading
import time
import zipfile

from conftest import BANNER, BIN

CANNOT_CREATE = "ERROR: Unable to create the compressed archive."
FOLDER_FAILED = "ERROR: Unable to add the foldercontent into the compressed archive."
FILE_FAILED = "ERROR: Unable to add the file into the compressed archive."


def sample(size, seed=1):
    words = [b"alpha", b"beta", b"gamma", b"delta", b"\x00\xff", b"\n"]
    out = bytearray()
    state = seed
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[(state >> 16) % len(words)]
    return bytes(out[:size])


def unzip_ok(path):
    proc = subprocess.run(["unzip", "-tq", str(path)], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    return proc.returncode == 0, proc.stdout.decode("latin-1")


def contents(path):
    """{name: (method, flags, data)} as Python's zipfile reads them."""
    with zipfile.ZipFile(path) as archive:
        return {i.filename: (i.compress_type, i.flag_bits, archive.read(i))
                for i in archive.infolist()}


def names(path):
    with zipfile.ZipFile(path) as archive:
        return archive.namelist()


def make_tree(root, files):
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def test_zip_of_one_file_holds_it_under_its_bare_name(run, workdir):
    text = sample(300000)
    (workdir / "sub").mkdir()
    (workdir / "sub" / "report.txt").write_bytes(text)
    r = run("/CreateOnly", "/Zip", "/File:sub/report.txt")
    assert r.code == 0
    assert r.lines == BANNER + ["CREATE ONLY Mode", "ZIP Mode", "FILE Mode"]
    archive = workdir / "Compressed.zip"
    assert unzip_ok(archive)[0]
    got = contents(archive)
    assert got == {"report.txt": (8, 2, text)}
    assert archive.stat().st_size < len(text) // 2


def test_stored_extensions_and_named_archive(run, workdir):
    data = sample(20000, seed=3)
    (workdir / "bundle.TGZ").write_bytes(data)
    r = run("/CreateOnly", "/Zip:out.zip", "/File:bundle.TGZ")
    assert r.code == 0
    assert not (workdir / "Compressed.zip").exists()
    assert contents(workdir / "out.zip") == {"bundle.TGZ": (0, 0, data)}
    # stored: 30 + 10 + 17 header, the data, 46 + 10 + 9 central, 22 end
    assert (workdir / "out.zip").stat().st_size == 57 + len(data) + 65 + 22


def test_an_old_archive_is_replaced(run, workdir):
    (workdir / "Compressed.zip").write_bytes(b"stale" * 1000)
    (workdir / "a.gz").write_bytes(b"abc")
    assert run("/CreateOnly", "/Zip", "/File:a.gz").code == 0
    assert contents(workdir / "Compressed.zip") == {"a.gz": (0, 0, b"abc")}


def test_dir_without_recurse_takes_the_top_folder_files_in_name_order(run, workdir):
    top = workdir / "data"
    files = {"b.txt": sample(1000), "A.log": sample(5000, 2), "c.gz": b"zz",
             ".hidden": b"h", "sub/inner.txt": b"inner"}
    make_tree(top, files)
    os.chmod(top / "A.log", 0o444)
    r = run("/CreateOnly", "/Dir:data")
    assert r.code == 0
    assert r.lines == BANNER + ["CREATE ONLY Mode", "DIR Mode", "Adding file .hidden",
                                "Adding file A.log", "Adding file b.txt",
                                "Adding file c.gz"]
    archive = workdir / "Compressed.zip"
    assert unzip_ok(archive)[0]
    got = contents(archive)
    assert list(got) == [".hidden", "A.log", "b.txt", "c.gz"]
    for name in got:
        assert got[name][2] == files[name]
    assert got["c.gz"][0] == 0 and got["b.txt"][0] == 8
    with zipfile.ZipFile(archive) as z:
        assert z.getinfo("A.log").external_attr == 0x81000021
        assert z.getinfo("b.txt").external_attr == 0x81800020
        assert z.getinfo(".hidden").external_attr == 0x81800022


def test_dir_with_recurse_adds_folder_entries_and_relative_names(run, workdir):
    top = workdir / "tree"
    files = {"a/b/report.txt": sample(7000), "a/z.bin": sample(100, 5),
             "top.txt": b"top", "x.zip": b"PK-ish"}
    make_tree(top, files)
    (top / "empty").mkdir()
    os.mkfifo(top / "a" / "pipe")
    os.symlink("missing", top / "dangling")
    os.symlink("..", top / "a" / "up")          # a loop back to the top
    r = run("/CreateOnly", "/Recurse", "/Dir:tree\\")
    assert r.code == 0
    assert r.lines == BANNER + ["CREATE ONLY Mode", "RECURSE Mode", "DIR Mode",
                                "Adding file report.txt", "Adding file z.bin",
                                "Adding file top.txt", "Adding file x.zip"]
    archive = workdir / "Compressed.zip"
    ok, report = unzip_ok(archive)
    assert ok, report
    assert names(archive) == ["a/", "a/b/", "a/b/report.txt", "a/z.bin", "empty/",
                              "top.txt", "x.zip"]
    got = contents(archive)
    for name, data in files.items():
        assert got[name][2] == data
    assert got["a/"] == (0, 0, b"")
    with zipfile.ZipFile(archive) as z:
        assert z.getinfo("a/b/").external_attr == 0x41C00010


def test_the_archive_inside_the_walked_folder_is_not_packed_into_itself(run, workdir):
    (workdir / "one.txt").write_bytes(b"1" * 5000)
    (workdir / "two.gz").write_bytes(b"2")
    r = run("/CreateOnly", "/Recurse", "/Dir:.")
    assert r.code == 0
    assert r.lines[-2:] == ["Adding file one.txt", "Adding file two.gz"]
    assert names(workdir / "Compressed.zip") == ["one.txt", "two.gz"]


def test_an_empty_folder_gives_an_empty_archive(run, workdir):
    (workdir / "empty").mkdir()
    r = run("/CreateOnly", "/Dir:empty", "/Zip:empty.zip")
    assert r.code == 0
    assert (workdir / "empty.zip").read_bytes() == b"PK\x05\x06" + bytes(18)


def test_a_dir_that_is_missing_or_no_folder_fails_with_code_3(run, workdir):
    """A mistyped /Dir: is a failed walk, on any number of threads, not an
    empty archive that looks like success."""
    (workdir / "file.txt").write_bytes(b"not a folder")
    for folder, reason in [("missing", "No such file or directory"),
                           ("file.txt", "Not a directory"),
                           (str(workdir / "bakcup") + "\\", "No such file or directory")]:
        for threads in ("/Threads:1", "/Threads:2"):
            r = run("/CreateOnly", "/Recurse", "/Dir:" + folder, "/Zip:out.zip", threads)
            assert r.code == 3, (folder, threads)
            assert r.lines == BANNER + ["CREATE ONLY Mode", "RECURSE Mode", "ZIP Mode",
                                        "DIR Mode", FOLDER_FAILED]
            shown = folder.rstrip("\\")
            assert r.stderr == "postrunner: %s: cannot read the folder: %s\n" % (shown, reason)
            # As after any failed entry, the archive lists what was added.
            assert names(workdir / "out.zip") == []


def test_extended_timestamps_are_utc_instants_in_any_zone(run, workdir):
    path = workdir / "dated.txt"
    path.write_bytes(b"when")
    mtime = 1720000000          # 2024-07-03 09:46:40 UTC
    os.utime(path, (mtime + 50, mtime))
    r = run("/CreateOnly", "/Zip", "/File:dated.txt",
            env_override={"TZ": "America/New_York"})
    assert r.code == 0
    with zipfile.ZipFile(workdir / "Compressed.zip") as z:
        info = z.getinfo("dated.txt")
        assert info.date_time == (2024, 7, 3, 9, 46, 40)   # DOS time in UTC
        assert info.extra[:5] == b"UT\x05\x00\x07"
        assert struct.unpack("<I", info.extra[5:9])[0] == mtime
    raw = (workdir / "Compressed.zip").read_bytes()
    local_extra = raw[30 + len("dated.txt"):30 + len("dated.txt") + 17]
    assert local_extra[:5] == b"UT\x0d\x00\x07"
    assert struct.unpack("<III", local_extra[5:]) [:2] == (mtime, mtime + 50)


def test_folder_entries_carry_the_local_time(run, workdir):
    (workdir / "d" / "sub").mkdir(parents=True)
    before = time.time()
    r = run("/CreateOnly", "/Recurse", "/Dir:d", env_override={"TZ": "JST-9"})
    after = time.time()
    assert r.code == 0
    with zipfile.ZipFile(workdir / "Compressed.zip") as z:
        info = z.getinfo("sub/")
        stamp = struct.unpack("<I", info.extra[5:9])[0]
        assert int(before) <= stamp <= int(after) + 1
        tokyo = time.gmtime(stamp + 9 * 3600)
        assert info.date_time[:5] == tuple(tokyo[:5])


def test_archive_that_cannot_be_created_ends_with_code_2(run, workdir):
    (workdir / "a.txt").write_bytes(b"a")
    (workdir / "taken.zip").mkdir()
    for name in ("taken.zip", "no/such/folder/x.zip"):
        r = run("/CreateOnly", "/Zip:" + name, "/File:a.txt")
        assert r.code == 2
        assert r.lines[-1] == CANNOT_CREATE
    assert (workdir / "taken.zip").is_dir()
    r = run("/CreateOnly", "/Zip:taken.zip", "/Dir:.")
    assert r.code == 2
    assert r.lines[-1] == CANNOT_CREATE


def test_a_folder_file_that_cannot_be_added_ends_with_code_3(run, workdir):
    top = workdir / "data"
    make_tree(top, {"a.txt": b"first", "c.txt": b"never reached"})
    # A file whose reading fails: the process's own memory, whose first page
    # is never mapped (EIO at offset 0).
    os.symlink("/proc/self/mem", top / "b.bin")
    r = run("/CreateOnly", "/Dir:data")
    assert r.code == 3
    assert r.lines[-3:] == ["Adding file a.txt", "Adding file b.bin", FOLDER_FAILED]
    archive = workdir / "Compressed.zip"
    assert unzip_ok(archive)[0]
    assert contents(archive) == {"a.txt": (8, 2, b"first")}
    assert archive.stat().st_size < 1000


def test_a_file_that_cannot_be_added_ends_with_code_4(run, workdir):
    os.mkfifo(workdir / "fifo")
    for source in ("missing.txt", "fifo", "."):
        started = time.monotonic()
        r = run("/CreateOnly", "/Zip", "/File:" + source, timeout=20)
        assert time.monotonic() - started < 10      # a FIFO must not block
        assert r.code == 4, source
        assert r.lines[-1] == FILE_FAILED
        # The archive is closed: a valid, empty archive remains.
        assert names(workdir / "Compressed.zip") == []


def start_fifo_reader(fifo):
    """Opens `fifo` for reading now (so that a writer finds a reader) and
    collects what is written into it, up to the last writer's close, on a
    thread. Returns (thread, chunks)."""
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    chunks = []

    def read_all():
        try:
            # No end of file is seen before a writer came: wait for its data.
            select.select([fd], [], [], 60)
            os.set_blocking(fd, True)
            while chunk := os.read(fd, 65536):
                chunks.append(chunk)
        finally:
            os.close(fd)

    thread = threading.Thread(target=read_all, daemon=True)
    thread.start()
    return thread, chunks


def test_a_fifo_named_by_zip_receives_the_archive_as_it_is_written(run, workdir):
    files = {"a.txt": sample(400000), "b.gz": sample(200000, 2), "sub/c.txt": b"c"}
    make_tree(workdir / "d", files)
    fifo = workdir / "pipe.zip"
    os.mkfifo(fifo)
    for threads in ("/Threads:1", "/Threads:2"):
        thread, chunks = start_fifo_reader(fifo)
        r = run("/CreateOnly", "/Recurse", "/Zip:pipe.zip", "/Dir:d", threads)
        assert r.code == 0, r.stderr
        thread.join(60)
        assert r.lines == BANNER + ["CREATE ONLY Mode", "RECURSE Mode", "ZIP Mode", "DIR Mode",
                                    "Adding file a.txt", "Adding file b.gz", "Adding file c.txt"]
        data = b"".join(chunks)
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            assert z.testzip() is None
            assert {n: z.read(n) for n in z.namelist() if not n.endswith("/")} == files
            # Written strictly forward: every entry ends in a data descriptor.
            assert all(i.flag_bits & 0x08 for i in z.infolist())
        # The FIFO stays as it was, and no temporary file is left beside it.
        assert stat.S_ISFIFO(os.lstat(fifo).st_mode)
        assert sorted(os.listdir(workdir)) == ["d", "pipe.zip"]
    # No reader: refused at once, not a hang.
    r = run("/CreateOnly", "/Zip:pipe.zip", "/Dir:d", timeout=20)
    assert r.code == 2
    assert r.lines[-1] == CANNOT_CREATE
    assert r.stderr == "postrunner: pipe.zip: no process reads the FIFO\n"


def test_a_fifo_cannot_take_an_archive_that_is_to_be_sent(run, workdir):
    (workdir / "a.txt").write_bytes(b"a")
    os.mkfifo(workdir / "pipe.zip")
    reader = os.open(workdir / "pipe.zip", os.O_RDONLY | os.O_NONBLOCK)
    try:
        r = run("/Receiver:a@dst.test", "/Sender:b@src.test", "/Mailserver:127.0.0.1:1",
                "/Zip:pipe.zip", "/File:a.txt")
        # Refused before a byte is written or a connection is tried.
        assert os.read(reader, 100) == b""
    finally:
        os.close(reader)
    assert r.code == 2
    assert r.lines == BANNER + ["ZIP Mode", "FILE Mode", CANNOT_CREATE]
    assert r.stderr == ("postrunner: pipe.zip: a FIFO or device cannot be read back to be sent; "
                        "use /CreateOnly, or name a file with /Zip:\n")


def test_zip_to_a_device_is_written_in_place(run, workdir):
    (workdir / "d").mkdir()
    (workdir / "d" / "a.txt").write_bytes(sample(100000))
    # A character device other than standard output takes the archive.
    r = run("/CreateOnly", "/Zip:/dev/null", "/Dir:d")
    assert r.code == 0, r.stderr
    assert r.lines == BANNER + ["CREATE ONLY Mode", "ZIP Mode", "DIR Mode", "Adding file a.txt"]
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def check_streamed_archive(path, data, stderr):
    """The archive at `path` holds d/a.txt alone, and the run's banner, mode and
    progress lines went to standard error."""
    with zipfile.ZipFile(path) as z:
        assert z.testzip() is None
        assert {n: z.read(n) for n in z.namelist()} == {"a.txt": data}
    assert unzip_ok(path) == (True, "No errors detected in compressed data of %s.\n" % path)
    assert stderr.decode().splitlines() == BANNER + [
        "CREATE ONLY Mode", "ZIP Mode", "DIR Mode", "Adding file a.txt"]


def test_zip_to_standard_output_streams_the_archive_and_prints_to_standard_error(workdir, env):
    data = sample(100000)
    (workdir / "d").mkdir()
    (workdir / "d" / "a.txt").write_bytes(data)
    # A pipe: written strictly forward, each entry's sizes in a data descriptor.
    proc = subprocess.run(["sh", "-c", '"$0" /CreateOnly /Zip:/dev/stdout /Dir:d | cat > out.zip',
                           BIN], cwd=workdir, env=env, stderr=subprocess.PIPE, timeout=60)
    assert proc.returncode == 0
    check_streamed_archive(workdir / "out.zip", data, proc.stderr)
    assert all(i.flag_bits & 0x08 for i in zipfile.ZipFile(workdir / "out.zip").infolist())
    # A regular file, under any name for it, is written through standard
    # output itself: never deleted, replaced or renamed.
    with open(workdir / "file.zip", "wb") as out:
        before = os.fstat(out.fileno()).st_ino
        proc = subprocess.run([BIN, "/CreateOnly", "/Zip:/proc/self/fd/1", "/Dir:d"], cwd=workdir,
                              env=env, stdout=out, stderr=subprocess.PIPE, timeout=60)
    assert proc.returncode == 0
    check_streamed_archive(workdir / "file.zip", data, proc.stderr)
    assert os.stat(workdir / "file.zip").st_ino == before
    # The link is left alone, and nothing is left beside anything.
    assert os.readlink("/dev/stdout") == "/proc/self/fd/1"
    assert sorted(os.listdir(workdir)) == ["d", "file.zip", "out.zip"]


def test_zip_where_reasons_go_or_to_be_sent_from_standard_output_is_refused(run, workdir, env):
    (workdir / "d").mkdir()
    (workdir / "d" / "a.txt").write_bytes(sample(1000))
    modes = ["CREATE ONLY Mode", "ZIP Mode", "DIR Mode"]
    # Standard error carries the reasons: an archive there would be mixed
    # with them, also when standard output goes there as well.
    refused = ("postrunner: /dev/stderr: standard error goes there; "
               "the program's reasons would be mixed into the archive\n")
    r = run("/CreateOnly", "/Zip:/dev/stderr", "/Dir:d")
    assert (r.code, r.lines, r.stderr) == (2, BANNER + modes + [CANNOT_CREATE], refused)
    proc = subprocess.run([BIN, "/CreateOnly", "/Zip:/dev/stdout", "/Dir:d"], cwd=workdir,
                          env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    assert proc.returncode == 2
    assert proc.stdout.decode().splitlines() == BANNER + modes + [
        "postrunner: /dev/stdout: standard error goes there; "
        "the program's reasons would be mixed into the archive", CANNOT_CREATE]
    # Mailing must read the archive back: refused before a connection is tried.
    r = run("/Receiver:a@dst.test", "/Sender:b@src.test", "/Mailserver:127.0.0.1:1",
            "/Zip:/dev/stdout", "/Dir:d")
    assert (r.code, r.lines) == (2, BANNER + ["ZIP Mode", "DIR Mode", CANNOT_CREATE])
    assert r.stderr == ("postrunner: /dev/stdout: standard output cannot be read back to be "
                        "sent; use /CreateOnly, or name a file with /Zip:\n")
    assert sorted(os.listdir(workdir)) == ["d"]
