""""/Join:" against mailboxes as a delivering server leaves them: an mbox cut
short or still growing, locked by the delivery (fcntl or NAME.lock), a big
ordinary inbox in front of a set, and a join stopped by Ctrl-C midway. The mboxes are built here by hand:
pieces as postrunner sends them, piece 1's enclosed header giving the size
in its Content-Disposition (RFC 2183)."""
import base64
import fcntl
import os
import random
import signal
import subprocess
import threading

import pytest

from conftest import BIN, Run

SIZE = 3000000
SET_ID = "2375.20260203100705.4242.9f3c0a1b2c3d4e5f.src.test"
FROM_LINE = b"From s@src.test Wed Dec  9 01:00:00 2026\n"


def mbox(messages):
    return b"".join(FROM_LINE + m + b"\n" for m in messages)


def big_set(data, size_param=True):
    """The 3 pieces of `data` (LF line ends), cut where postrunner cuts."""
    text = base64.encodebytes(data)  # lines of 76 characters
    disposition = b'attachment; filename="big.bin"' + (b"; size=%d" % len(data)
                                                       if size_param else b"")
    enclosed = (b"MIME-Version: 1.0\nContent-Type: application/octet-stream\n"
                b"Content-Transfer-Encoding: base64\nContent-Disposition: " + disposition +
                b"\n\n" + text)
    lines = enclosed.split(b"\n")
    per = -(-len(lines) // 3)
    pieces = []
    for k in range(3):
        body = b"\n".join(lines[k * per:(k + 1) * per]) + (b"\n" if k < 2 else b"")
        pieces.append(b"From: s@src.test\nSubject: big.bin (part %d of 3)\nMIME-Version: 1.0\n"
                      b'Content-Type: message/partial; id="%s"; number=%d; total=3\n\n'
                      % (k + 1, SET_ID.encode(), k + 1) + body)
    return pieces


@pytest.fixture(scope="module")
def data():
    return random.Random(7).randbytes(SIZE)


def join(box, out, env=None, **kwargs):
    proc = subprocess.run([BIN, "/Join:" + str(box), "/JoinTo:" + str(out)], cwd=str(out),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, env=env, timeout=120, **kwargs)
    return Run(proc)


def start_join(box, out, env=None):
    return subprocess.Popen([BIN, "/Join:" + str(box), "/JoinTo:" + str(out)], cwd=str(out),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, env=env)


def finish(proc):
    stdout, stderr = proc.communicate(timeout=120)
    return Run(subprocess.CompletedProcess(proc.args, proc.returncode, stdout, stderr))


@pytest.fixture
def out(tmp_path):
    folder = tmp_path / "out"
    folder.mkdir()
    return folder


NOT_JOINED = "Not joined: big.bin from set %s (3 pieces)" % SET_ID


@pytest.mark.parametrize("size_param,cut", [
    (True, "line end"),     # whole base64 groups: only size= tells
    (True, "mid-line"),     # at a group's end
    (False, "mid-group"),   # 2 characters of a group, no padding
])
def test_cut_mbox_is_never_joined(data, tmp_path, out, size_param, cut):
    whole = mbox(big_set(data, size_param))
    last_line = whole.rindex(b"\n", 0, len(whole) - 200) + 1
    at = {"line end": last_line, "mid-line": last_line + 36, "mid-group": last_line + 42}[cut]
    (tmp_path / "box").write_bytes(whole[:at])
    r = join(tmp_path / "box", out)
    assert (r.code, r.lines) == (5, [NOT_JOINED])
    assert r.stderr.startswith("postrunner: big.bin: ") and r.stderr.count("\n") == 1
    if size_param:
        assert "size=3000000" in r.stderr
    else:
        assert "ends inside a group" in r.stderr
    assert os.listdir(out) == []


def test_size_given_and_met_joins(data, tmp_path, out):
    (tmp_path / "box").write_bytes(mbox(big_set(data)[::-1]))
    r = join(tmp_path / "box", out)
    assert (r.code, r.lines, r.stderr) == (0, ["Joined big.bin from 3 pieces, 3000000 bytes"], "")
    assert (out / "big.bin").read_bytes() == data


def locked_box(path, data, lock):
    """Writes all but the end of the mbox at `path` under a delivery's lock
    ("fcntl" or "dot"); returns release(), which appends the rest and lets go."""
    whole = mbox(big_set(data))
    cut = whole.rindex(b"\n", 0, len(whole) - 5000) + 1
    f = open(path, "wb")
    if lock == "fcntl":
        fcntl.lockf(f, fcntl.LOCK_EX)
    else:
        open(str(path) + ".lock", "wb").close()
    f.write(whole[:cut])
    f.flush()

    def release():
        f.write(whole[cut:])
        f.flush()
        if lock == "fcntl":
            fcntl.lockf(f, fcntl.LOCK_UN)
        else:
            os.unlink(str(path) + ".lock")
        f.close()
    return release


@pytest.mark.parametrize("lock", ["fcntl", "dot"])
def test_join_waits_for_the_delivery_to_finish(data, tmp_path, out, lock):
    release = locked_box(tmp_path / "box", data, lock)
    proc = start_join(tmp_path / "box", out)
    timer = threading.Timer(0.5, release)
    timer.start()
    r = finish(proc)
    timer.join()
    assert (r.code, r.lines, r.stderr) == (0, ["Joined big.bin from 3 pieces, 3000000 bytes"], "")
    assert (out / "big.bin").read_bytes() == data


@pytest.mark.parametrize("lock", ["fcntl", "dot"])
def test_lock_never_released_makes_the_mbox_unreadable(data, tmp_path, out, lock):
    release = locked_box(tmp_path / "box", data, lock)
    try:
        env = dict(os.environ, POSTRUNNER_LOCK_WAIT_MS="300")
        r = join(tmp_path / "box", out, env=env)
    finally:
        release()
    assert (r.code, r.lines) == (4, [])
    box = str(tmp_path / "box")
    assert r.stderr == {
        "fcntl": "postrunner: cannot read %s: another program kept it locked for 300 ms\n" % box,
        "dot": "postrunner: cannot read %s: %s.lock stayed in place for 300 ms\n" % (box, box),
    }[lock]
    assert os.listdir(out) == []


ORDINARY = (b"From: friend@example.test\nSubject: note %d\nMIME-Version: 1.0\n"
            b'Content-Type: multipart/alternative; boundary="b%d"\n\n'
            b"--b%d\nContent-Type: text/plain\n\nhello %d\n"
            b"--b%d\nContent-Type: text/html\n\n<p>hello %d</p>\n--b%d--\n")
WITH_FILE = (b"From: friend@example.test\nSubject: a file\nMIME-Version: 1.0\n"
             b'Content-Type: multipart/mixed; boundary="m"\n\n--m\nContent-Type: text/plain\n\n'
             b'see the file\n--m\nContent-Type: text/plain; name="mid.txt"\n'
             b"Content-Disposition: attachment; filename=\"mid.txt\"; size=3\n\nmid\n--m--\n")


# Runs a command and writes its peak memory (KiB) to a file. A fresh
# interpreter starts it, as a child forked from this test process would
# count the test's own memory until it execs.
PEAK_RSS = ("import resource, subprocess, sys\n"
            "code = subprocess.call(sys.argv[2:])\n"
            "with open(sys.argv[1], 'w') as f:\n"
            "    f.write(str(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))\n"
            "sys.exit(code)\n")


def test_big_ordinary_inbox_before_a_set(tmp_path, out):
    count = 100000
    payload = random.Random(9).randbytes(90000)
    messages = [ORDINARY % ((k,) * 7) for k in range(count)]
    messages[count // 2] = WITH_FILE
    pieces = big_set(payload)  # size= given and met
    (tmp_path / "box").write_bytes(mbox(messages + pieces))
    del messages
    peak = tmp_path / "peak"
    r = Run(subprocess.run(["/usr/bin/python3", "-c", PEAK_RSS, str(peak), BIN,
                            "/Join:" + str(tmp_path / "box"), "/JoinTo:" + str(out)],
                           cwd=str(out), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=300))
    assert (r.code, r.stderr) == (0, "")
    assert r.lines == ["Joined mid.txt from 1 piece, 3 bytes",
                       "Joined big.bin from 3 pieces, 90000 bytes"]
    assert (out / "big.bin").read_bytes() == payload
    if os.environ.get("POSTRUNNER_SANITIZED") != "1":
        assert int(peak.read_text()) < 64 * 1024


def test_pieces_without_id_are_no_pieces(tmp_path, out):
    piece = (b"From: s@src.test\nSubject: x\nMIME-Version: 1.0\n"
             b"Content-Type: message/partial; number=1; total=1\n\nMIME-Version: 1.0\n\nx\n")
    (tmp_path / "box").write_bytes(mbox([piece]))
    r = join(tmp_path / "box", out)
    assert r.code == 0
    assert r.lines == ["No message/partial pieces found in %s" % (tmp_path / "box")]
    assert r.stderr == "postrunner: 1 message/partial piece without id= passed over\n"


F_SETLEASE = 1024  # fcntl(2), Linux


def leased(path):
    """Opens `path` and takes a write lease on it: another process's open of
    it then waits, and this process gets SIGIO, until the lease goes."""
    fd = os.open(path, os.O_RDONLY)
    try:
        fcntl.fcntl(fd, F_SETLEASE, fcntl.F_WRLCK)
    except OSError as e:
        os.close(fd)
        pytest.skip("no file leases here: %s" % e)
    return fd


def wait_for_open():
    """Waits until a process opens a file this process holds a lease on."""
    assert signal.sigtimedwait({signal.SIGIO}, 60) is not None, "the join never opened it"


def test_ctrl_c_while_a_file_is_rebuilt_leaves_nothing_behind(data, tmp_path, out):
    # The set's pieces are files 1.eml to 3.eml of a folder, opened in turn
    # by the scan and again by the rebuild. A lease on 3.eml holds the scan
    # when it has read 2.eml: a leased copy of 2.eml then takes its name, and
    # 3.eml is let go. The rebuild is held where it opens 2.eml to read
    # piece 2 into the half-written file: Ctrl-C comes there. Both waits
    # also show that a file another program holds a lease on is waited for.
    box = tmp_path / "box"
    box.mkdir()
    pieces = big_set(data[:200000])
    for k, piece in enumerate(pieces):
        (box / ("%d.eml" % (k + 1))).write_bytes(piece)
    (tmp_path / "copy").write_bytes(pieces[1])
    scan_fd = leased(box / "3.eml")
    join_fd = leased(tmp_path / "copy")
    old_mask = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGIO})
    old_handler = signal.signal(signal.SIGIO, lambda *_: None)
    proc = None
    try:
        proc = start_join(box, out)
        wait_for_open()
        os.rename(tmp_path / "copy", box / "2.eml")
        os.close(scan_fd)
        wait_for_open()
        left = os.listdir(out)
        assert len(left) == 1 and left[0].startswith(".postrunner-join."), left
        proc.send_signal(signal.SIGINT)
        r = finish(proc)
    finally:
        if proc is not None and proc.poll() is None:
            proc.kill()
        os.close(join_fd)
        signal.signal(signal.SIGIO, old_handler)
        signal.pthread_sigmask(signal.SIG_SETMASK, old_mask)
    assert (r.code, r.lines, r.stderr) == (128 + signal.SIGINT, [], "")
    assert os.listdir(out) == []


def test_join_delete_removes_written_pieces_from_a_maildir_never_from_an_mbox(data, tmp_path, out):
    maildir = tmp_path / "Maildir"
    for sub in ("cur", "new", "tmp"):
        (maildir / sub).mkdir(parents=True)
    done = big_set(data)
    partial = [p.replace(SET_ID.encode(), b"partial.9@src.test") for p in big_set(data)][:2]
    names = {}
    for k, piece in enumerate(done + partial + [b"From: a@src.test\nSubject: hi\n\nhello\n"]):
        name = "1700000000.%d.host:2,S" % k
        (maildir / "cur" / name).write_bytes(piece)
        names[name] = k
    proc = subprocess.run([BIN, "/Join:" + str(maildir), "/JoinTo:" + str(out), "/JoinDelete"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    run = Run(proc)
    assert run.code == 5
    assert run.lines == ["Joined big.bin from 3 pieces, %d bytes" % len(data),
                         "Incomplete set partial.9@src.test: missing pieces 3 of 3"]
    assert sorted(names[n] for n in os.listdir(maildir / "cur")) == [3, 4, 5]
    assert (out / "big.bin").read_bytes() == data
    box = tmp_path / "box.mbox"
    box.write_bytes(mbox(done))
    os.remove(out / "big.bin")
    proc = subprocess.run([BIN, "/Join:" + str(box), "/JoinTo:" + str(out), "/JoinDelete"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    run = Run(proc)
    assert run.code == 0 and "the pieces in %s stay" % box in run.stderr, run.stderr
    assert box.read_bytes() == mbox(done)
