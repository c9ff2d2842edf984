"""/Threads:N, end to end: a folder archive is the same archive, byte for
byte, on one thread or several (entries whose compressed form spills past
the in-memory buffer included, and one deflated in pieces); a single big
file too, and its stream reads back through zlib; a walk that fails in the middle fails the
same way; values outside 1..256 are refused as usage errors; a count far
above the CPUs costs neither the memory nor the time of that many threads."""
import os
import random
import struct
import subprocess
import sys
import zipfile
import zlib

import pytest

from conftest import unprivileged

FOLDER_FAILED = "ERROR: Unable to add the foldercontent into the compressed archive."
THREAD_COUNTS = [1, 2, 3, None]  # None: no option, one thread per online CPU


_WORDS = random.Random(1)
VOCABULARY = ["".join(_WORDS.choices("abcdefghijklmnopqrstuvwxyz", k=_WORDS.randint(2, 10)))
              for _ in range(30000)] + ["\n"]


def text(rng, size):
    """Text that deflates to about 60% of its size: 3 MiB of it comes out
    well past the 1 MiB a worker keeps in memory."""
    words = rng.choices(VOCABULARY, k=size // 5 + 10)
    return " ".join(words).encode()[:size]


def make_tree(top, nested):
    """A few hundred files of mixed kinds; with `nested`, sub-folders too
    (hidden, empty, deep). Sizes sit on both sides of 64 KiB and 1 MiB."""
    rng = random.Random(14)
    files = {
        "Big text.txt": text(rng, 3 << 20),
        "Huge text.txt": text(rng, (5 << 20) + 12345),  # deflated in pieces
        "random.bin": rng.randbytes(1200000),
        "stored.gz": rng.randbytes(1100000),
        "exactly 1 MiB.txt": text(rng, 1 << 20),
        "k64.txt": text(rng, 65536),
        "k64 plus one.txt": text(rng, 65537),
        "empty.txt": b"",
        ".hidden": b"hidden\n" * 100,
        ".hidden.gz": rng.randbytes(3000),
    }
    for k in range(240):
        size = rng.choice([0, 1, 100, 4000, 30000, 70000])
        data = rng.randbytes(size) if k % 3 == 0 else text(rng, size)
        files["f%03d%s" % (k, [".txt", ".GZ", ".dat", ".Log"][k % 4])] = data
    if nested:
        files.update({
            "sub/inner.txt": text(rng, 200000),
            "sub/Deeper/deep.bin": rng.randbytes(1100000),
            "sub/Deeper/.deep hidden": b"x",
            ".hidden folder/a.txt": b"a\n",
        })
        for k in range(60):
            files["sub/many/m%02d.txt" % k] = text(rng, rng.choice([10, 5000, 80000]))
        (top / "empty folder").mkdir(parents=True)
    for name, data in files.items():
        path = top / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def settle_access_times(top):
    """Reads every file once, so that later reads leave the access times
    that entries record alone (relatime updates them only while they are
    older than the last change); skips where every read updates them."""
    files = [os.path.join(d, f) for d, _, names in os.walk(top) for f in names]
    for path in files:
        with open(path, "rb") as f:
            f.read(1)
    before = os.stat(files[0]).st_atime_ns
    with open(files[0], "rb") as f:
        f.read(1)
    if os.stat(files[0]).st_atime_ns != before:
        pytest.skip("this file system updates access times on every read")


def thread_args(threads):
    return [] if threads is None else ["/Threads:%d" % threads]


def central_start(data):
    end = data.rfind(b"PK\x05\x06")
    return struct.unpack("<I", data[end + 16:end + 20])[0]


def listing(path):
    """Everything zipfile reports of each entry, in order, except what a
    folder entry takes from the time of the run (its date-time and its
    timestamp field), and each file entry's local record byte for byte."""
    data = path.read_bytes()
    rows = []
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        ends = [i.header_offset for i in infos[1:]] + [central_start(data)]
        for info, end in zip(infos, ends):
            row = [info.filename, info.header_offset, info.CRC, info.compress_size,
                   info.file_size, info.compress_type, info.flag_bits, info.external_attr,
                   info.internal_attr, info.create_system, info.create_version,
                   info.extract_version, info.comment]
            if not info.is_dir():
                row += [info.date_time, info.extra, data[info.header_offset:end]]
            rows.append(row)
    return rows


@pytest.mark.parametrize("nested", [False, True], ids=["flat", "nested"])
def test_archive_is_the_same_on_any_number_of_threads(run, workdir, tmp_path, nested):
    make_tree(workdir / "tree", nested)
    settle_access_times(workdir / "tree")
    spill = tmp_path / "spill"
    spill.mkdir()
    outputs = []
    for threads in THREAD_COUNTS:
        name = "t%s.zip" % threads
        args = ["/CreateOnly", "/Zip:" + name, "/Dir:tree"] + (["/Recurse"] * nested)
        r = run(*args, *thread_args(threads), env_override={"TMPDIR": str(spill)})
        assert r.code == 0, r.stderr
        # Spilled output lives in unlinked files: nothing is left behind.
        assert os.listdir(spill) == []
        test = subprocess.run(["unzip", "-tq", name], cwd=workdir, capture_output=True)
        assert test.returncode == 0, test.stdout
        outputs.append((r.stdout, workdir / name))
    one_stdout, one = outputs[0]
    with zipfile.ZipFile(one) as z:
        infos = z.infolist()
        # The tree does what it is for: entries whose output passes 1 MiB,
        # stored ones, and (nested) folder entries.
        assert max(i.compress_size for i in infos) > 1 << 20
        assert max(i.file_size for i in infos) >= 4 << 20
        assert any(i.compress_type == zipfile.ZIP_STORED and i.file_size for i in infos)
        assert any(i.is_dir() for i in infos) == nested
        assert len(infos) > 240
    for stdout, archive in outputs[1:]:
        assert stdout == one_stdout
        if nested:
            assert listing(archive) == listing(one)
        else:
            assert archive.read_bytes() == one.read_bytes()


def make_failing_tree(top, kind):
    """Forty files, then one that cannot be read (a file, or with "folder" a
    sub-folder), then forty more, so that workers are busy on both sides of
    the failure."""
    rng = random.Random(5)
    top.mkdir()
    for k in range(40):
        (top / ("a%02d.txt" % k)).write_bytes(text(rng, 40000))
        (top / ("z%02d.bin" % k)).write_bytes(rng.randbytes(40000))
    locked = top / "m locked"
    if kind == "folder":
        locked.mkdir()
        (locked / "inner.txt").write_bytes(b"inner")
    else:
        locked.write_bytes(text(rng, 100000))
    os.chmod(locked, 0)
    return locked


@pytest.mark.parametrize("kind", ["file", "folder"])
def test_walk_fails_at_the_same_entry_on_any_number_of_threads(run, workdir, kind):
    prefix = unprivileged()
    locked = make_failing_tree(workdir / "d", kind)
    settle_access_times(workdir / "d")
    results = []
    try:
        for threads in [1, 2, 3]:
            name = "t%d.zip" % threads
            r = run("/CreateOnly", "/Recurse", "/Zip:" + name, "/Dir:d", "/Threads:%d" % threads,
                    prefix=prefix)
            results.append((r.code, r.stdout, r.stderr, listing(workdir / name)))
    finally:
        os.chmod(locked, 0o755)
    code, stdout, stderr, entries = results[0]
    assert code == 3
    lines = stdout.splitlines()
    assert lines[-1] == FOLDER_FAILED
    added = [line[len("Adding file "):] for line in lines if line.startswith("Adding file ")]
    before = ["a%02d.txt" % k for k in range(40)]
    assert added == before + (["m locked"] if kind == "file" else [])
    assert stderr.startswith("postrunner: d/m locked: ") and "Permission denied" in stderr
    assert len(stderr.splitlines()) == 1
    # The archive lists exactly the files before the failure.
    assert [e[0] for e in entries] == before
    for other in results[1:]:
        assert other == results[0]


def test_running_out_of_descriptors_makes_the_walk_wait_not_fail(run, workdir):
    """Files opened ahead of their turn hold descriptors; when the process
    runs out of them, the walk writes the queued files first and goes on."""
    top = workdir / "many"
    (top / "sub").mkdir(parents=True)
    for k in range(300):
        (top / ("f%03d.txt" % k)).write_bytes(b"line %d\n" % k * k)
        (top / "sub" / ("g%03d.txt" % k)).write_bytes(b"x" * k)
    settle_access_times(top)
    few = ["prlimit", "--nofile=30:30"]
    results = []
    for threads in [1, 4]:
        name = "t%d.zip" % threads
        r = run("/CreateOnly", "/Recurse", "/Zip:" + name, "/Dir:many", "/Threads:%d" % threads,
                prefix=few)
        assert r.code == 0, r.stderr
        results.append((r.stdout, listing(workdir / name)))
    assert results[1] == results[0]
    assert len(results[0][1]) == 601


@pytest.mark.parametrize("value, accepted", [
    ("1", True), ("256", True), ("0", False), ("257", False), ("x", False), ("", False),
    ("-1", False), ("+2", False), ("2x", False), (" 2", False),
    ("99999999999999999999", False)])
def test_thread_count_outside_one_to_256_is_a_usage_error(run, workdir, value, accepted):
    (workdir / "f.txt").write_bytes(b"data\n")
    r = run("/CreateOnly", "/Zip", "/File:f.txt", "/Threads:" + value)
    if accepted:
        assert r.code == 0, r.stderr
        assert (workdir / "Compressed.zip").exists()
        return
    assert r.code == 1
    assert r.stderr == "postrunner: /Threads: takes a whole number of threads from 1 to 256\n"
    assert "Parameters you need to use:" in r.lines
    assert not (workdir / "Compressed.zip").exists()


RSS_PROBE = """
import resource, subprocess, sys, time
started = time.monotonic()
code = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode
wall = time.monotonic() - started
print(code, wall, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
"""


def run_measured(binary, args, cwd, env):
    """Runs the binary in a child of a fresh interpreter, whose children's
    peak RSS is then the binary's alone: (exit code, seconds, KiB)."""
    out = subprocess.run([sys.executable, "-c", RSS_PROBE, binary, *args], cwd=cwd, env=env,
                         capture_output=True, check=True, timeout=600)
    code, wall, rss = out.stdout.split()
    return int(code), float(wall), int(rss)


def test_many_threads_on_many_tiny_files_cost_no_more_than_the_cpus_do(workdir, env, capsys):
    """/Threads:256 on 10,000 tiny files runs no more compressing threads
    than there are CPUs and files for: the same archive as one thread, in
    bounded memory. Times are printed, not asserted."""
    if os.environ.get("POSTRUNNER_SANITIZED") == "1":
        pytest.skip("the sanitizers' shadow memory makes peak RSS meaningless")
    top = workdir / "tiny"
    top.mkdir()
    for k in range(10000):
        (top / ("f%05d.txt" % k)).write_bytes(b"tiny file %d\n" % k)
    settle_access_times(top)
    figures = {}
    for threads in [1, 256]:
        args = ["/CreateOnly", "/Zip:t%d.zip" % threads, "/Dir:tiny", "/Threads:%d" % threads]
        figures[threads] = run_measured(os.environ["POSTRUNNER_BIN"], args, workdir, env)
        with capsys.disabled():
            print("\n/Threads:%d on 10,000 tiny files: exit %d, %.2f s, peak RSS %.1f MiB"
                  % (threads, *figures[threads][:2], figures[threads][2] / 1024))
    assert figures[1][0] == 0 and figures[256][0] == 0
    assert figures[256][2] < 64 * 1024
    assert (workdir / "t256.zip").read_bytes() == (workdir / "t1.zip").read_bytes()


def test_single_big_file_is_the_same_archive_on_any_number_of_threads(run, workdir):
    data = text(random.Random(5), (9 << 20) + 777)
    (workdir / "big.txt").write_bytes(data)
    settle_access_times(workdir)
    archives = []
    for threads in THREAD_COUNTS:
        name = "b%s.zip" % threads
        r = run("/CreateOnly", "/Zip:" + name, "/File:big.txt", *thread_args(threads))
        assert r.code == 0, r.stderr
        archives.append((workdir / name).read_bytes())
    assert all(a == archives[0] for a in archives[1:])
    test = subprocess.run(["unzip", "-tq", "b1.zip"], cwd=workdir, capture_output=True)
    assert test.returncode == 0, test.stdout
    with zipfile.ZipFile(workdir / "b1.zip") as z:
        info = z.infolist()[0]
    name_length, extra_length = struct.unpack_from("<HH", archives[0], info.header_offset + 26)
    raw = archives[0][info.header_offset + 30 + name_length + extra_length:]
    # The raw stream, through zlib itself: ends exactly where the entry does.
    inflater = zlib.decompressobj(-15)
    assert inflater.decompress(raw[:info.compress_size]) == data
    assert inflater.eof and inflater.unused_data == b""
