"""Files and folders in a hostile world, end to end: two runs at once in one
folder, signals, a file that changes while it is sent, a file name swapped
for a link, folders that cannot be read or lie deeper than PATH_MAX, a
backslash in a real name, and a full disk. Each run must deliver exactly
what it packed or fail with a reason on standard error, and leave nothing
of its own behind."""
import os
import resource
import signal
import socket
import subprocess
import threading
import zipfile

import pytest

from conftest import BIN, unprivileged
from smtp_util import SmtpSink, join_pieces, single_attachment
from support import accept_each, wait_until

SENDER = "backup@src.test"
RECEIVER = "admin@dst.test"
PIECE = 998001
FOLDER_FAILED = "ERROR: Unable to add the foldercontent into the compressed archive."


class Proc:
    """The binary running in the background; stdout lines are collected as
    they come so that a test can wait for one."""

    def __init__(self, args, cwd, env, prefix=()):
        self.p = subprocess.Popen([*prefix, BIN, *args], cwd=str(cwd), env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  stdin=subprocess.DEVNULL)
        self.lines = []
        self.stderr = b""
        self._out = threading.Thread(target=self._read, daemon=True)
        self._out.start()

    def _read(self):
        for line in self.p.stdout:
            self.lines.append(line.decode("latin-1").rstrip("\n"))

    def wait_line(self, text, timeout=30):
        assert wait_until(lambda: text in self.lines, timeout), (text, self.lines)

    def finish(self, timeout=60):
        self.stderr = self.p.stderr.read()
        code = self.p.wait(timeout)
        self._out.join(10)
        return code


class GateSink(SmtpSink):
    """A real SMTP server that runs `hook(n)` when message n (from 1) has
    arrived and before it answers the end of data, so that a test acts
    between two steps of a run."""

    def __init__(self, hook):
        super().__init__()
        self.hook = hook

    def _add(self, message):
        super()._add(message)
        self.hook(len(self.messages))


@pytest.fixture
def mime(tmp_path):
    (tmp_path / "mime.types").write_text("application/zip zip\napplication/octet-stream bin\n")


def mail_args(server, *options):
    return ["/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:" + server, *options]


def zip_names(data_or_path):
    source = data_or_path if isinstance(data_or_path, os.PathLike) else __import__("io").BytesIO(data_or_path)
    with zipfile.ZipFile(source) as z:
        return z.namelist()


def leftovers(folder, keep):
    return sorted(p for p in os.listdir(folder) if p not in keep)


def test_two_runs_in_one_folder_each_keep_and_send_their_own_archive(workdir, env, mime):
    """Run A packs a big folder with /CreateOnly; run B, started while A is
    still packing, mails a small folder and is held at the server until A has
    ended. A's archive must be the one under the name, and B must mail B's."""
    (workdir / "big").mkdir()
    (workdir / "big" / "big.bin").write_bytes(os.urandom(24 << 20))
    (workdir / "small").mkdir()
    (workdir / "small" / "s.txt").write_bytes(b"small run\n")
    arrived, release = threading.Event(), threading.Event()
    sink = GateSink(lambda n: (arrived.set(), release.wait(60)))
    try:
        a = Proc(["/CreateOnly", "/Dir:big"], workdir, env)
        a.wait_line("Adding file big.bin")
        b = Proc(mail_args(sink.address, "/Dir:small"), workdir, env)
        assert arrived.wait(30), b.lines
        assert a.p.poll() is None, "run A ended before run B was under way"
        assert a.finish() == 0, a.stderr
        assert zip_names(workdir / "Compressed.zip") == ["big.bin"]
        release.set()
        assert b.finish() == 0, b.stderr
    finally:
        release.set()
        sink.stop()
    _, _, data = single_attachment(sink.messages[0].content)
    assert zip_names(data) == ["s.txt"]
    # B deleted its own delivered archive, not A's.
    assert zip_names(workdir / "Compressed.zip") == ["big.bin"]
    assert leftovers(workdir, {"big", "small"}) == ["Compressed.zip"]


class SilentServer:
    """Accepts connections and never greets: a run stays in its first SMTP
    conversation until it is stopped."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0), backlog=4)
        self.address = "127.0.0.1:%d" % self.sock.getsockname()[1]
        self.accepted = threading.Event()
        self.conns = []
        accept_each(self.sock, self._keep)

    def _keep(self, conn):
        self.conns.append(conn)
        self.accepted.set()

    def close(self):
        for c in self.conns:
            c.close()
        self.sock.close()


@pytest.mark.parametrize("phase,sig", [
    ("piece", signal.SIGINT), ("piece", signal.SIGTERM), ("piece", signal.SIGHUP),
    ("archive", signal.SIGINT)])
def test_signal_removes_this_runs_files_and_exits_128_plus_signal(workdir, env, mime,
                                                                  phase, sig):
    server = SilentServer()
    try:
        if phase == "piece":
            (workdir / "f.bin").write_bytes(os.urandom(PIECE + 5000))
            run = Proc(mail_args(server.address, "/File:f.bin"), workdir, env)
            run.wait_line("f.bin (part 1 of 2)")
            assert server.accepted.wait(30)
            keep = {"f.bin"}
        else:
            (workdir / "big").mkdir()
            (workdir / "big" / "big.bin").write_bytes(os.urandom(8 << 20))
            run = Proc(["/CreateOnly", "/Dir:big"], workdir, env)
            run.wait_line("Adding file big.bin")
            keep = {"big"}
        run.p.send_signal(sig)
        assert run.finish() == 128 + sig
    finally:
        server.close()
    assert leftovers(workdir, keep) == []
    assert not any(line.startswith("File ") for line in run.lines)


@pytest.mark.parametrize("change", ["shrink", "grow"])
def test_file_that_changes_during_a_split_send(workdir, env, mime, change):
    original = os.urandom(3000000)
    path = workdir / "f.bin"
    path.write_bytes(original)

    def after_first_piece(n):
        if n == 1:
            with open(path, "r+b") as f:
                if change == "shrink":
                    f.truncate(1500000)
                else:
                    f.seek(0, 2)
                    f.write(os.urandom(1000000))

    sink = GateSink(after_first_piece)
    try:
        run = Proc(mail_args(sink.address, "/File:f.bin"), workdir, env)
        code = run.finish()
    finally:
        sink.stop()
    reason = run.stderr.decode("latin-1")
    if change == "shrink":
        assert code == 5
        assert run.lines[-1] == "ERROR: File f.bin not sent to " + RECEIVER
        assert "postrunner: f.bin: the file shrank while it was sent" in reason
        assert len(sink.messages) == 1
    else:
        assert code == 0
        assert "postrunner: f.bin: the file grew while it was sent" in reason
        _, data = join_pieces([m.content for m in sink.messages])
        assert data == original
    assert leftovers(workdir, {"f.bin"}) == []


def test_name_swapped_for_a_link_mid_send_still_mails_the_file(workdir, env, mime, tmp_path):
    """After the first piece the file's name is given to a link to a private
    file: every piece is read from the file opened at the start, so the
    private file is never sent."""
    secret = tmp_path / "secret.txt"
    secret.write_bytes(b"private data of another user\n" * 40000)
    original = os.urandom(PIECE + 1000)
    path = workdir / "f.bin"
    path.write_bytes(original)

    def after_first_piece(n):
        if n == 1:
            os.rename(path, workdir / "f.old")
            path.symlink_to(secret)

    sink = GateSink(after_first_piece)
    try:
        run = Proc(mail_args(sink.address, "/File:f.bin"), workdir, env)
        assert run.finish() == 0, run.stderr
    finally:
        sink.stop()
    _, data = join_pieces([m.content for m in sink.messages])
    assert data == original


def test_name_at_the_file_system_limit_is_sent_in_pieces(workdir, env, mime):
    name = "n" * 241 + ".bin"
    original = os.urandom(PIECE + 1000)
    (workdir / name).write_bytes(original)
    sink = SmtpSink()
    try:
        run = Proc(mail_args(sink.address, "/File:" + name), workdir, env)
        assert run.finish() == 0, run.stderr
    finally:
        sink.stop()
    _, data = join_pieces([m.content for m in sink.messages])
    assert data == original
    assert b"\r\nSubject: " + name.encode() + b" (part 1 of 2)\r\n" in sink.messages[0].content
    assert leftovers(workdir, {name}) == []


def test_unreadable_sub_folder_fails_the_walk_with_its_reason(workdir, env):
    (workdir / "d" / "locked").mkdir(parents=True)
    (workdir / "d" / "locked" / "inner.txt").write_bytes(b"x")
    (workdir / "d" / "a.txt").write_bytes(b"a")
    os.chmod(workdir / "d" / "locked", 0)
    try:
        run = Proc(["/CreateOnly", "/Recurse", "/Dir:d"], workdir, env, prefix=unprivileged())
        code = run.finish()
    finally:
        os.chmod(workdir / "d" / "locked", 0o755)
    assert code == 3
    assert run.lines[-1] == FOLDER_FAILED
    assert run.stderr.decode() == "postrunner: d/locked: cannot read the folder: Permission denied\n"


def make_deep_tree(top, depth):
    """top/d/d/.../d/deep.txt, `depth` folders below top, built relative to
    each parent folder since the whole path passes PATH_MAX."""
    os.mkdir(top)
    fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    for _ in range(depth):
        os.mkdir("d", dir_fd=fd)
        sub = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = sub
    with os.fdopen(os.open("deep.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as f:
        f.write(b"the deepest file\n")
    os.close(fd)


def remove_deep_tree(top):
    """Removes what make_deep_tree built, deepest first, without recursion."""
    fds = [os.open(top, os.O_RDONLY | os.O_DIRECTORY)]
    while "d" in os.listdir(fds[-1]):
        fds.append(os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fds[-1]))
    os.unlink("deep.txt", dir_fd=fds[-1])
    os.close(fds.pop())
    while fds:
        os.rmdir("d", dir_fd=fds[-1])
        os.close(fds.pop())


def test_tree_deeper_than_path_max_is_archived_whole(workdir, env):
    depth = 2100  # "d/" per level: 4200 bytes of path
    make_deep_tree(workdir / "top", depth)
    try:
        run = Proc(["/CreateOnly", "/Recurse", "/Dir:top"], workdir, env)
        assert run.finish(timeout=120) == 0, run.stderr
        with zipfile.ZipFile(workdir / "Compressed.zip") as z:
            deep = "d/" * depth + "deep.txt"
            assert z.read(deep) == b"the deepest file\n"
            assert len(z.namelist()) == depth + 1
    finally:
        remove_deep_tree(workdir / "top")


def test_backslash_in_a_real_file_name(workdir, env):
    (workdir / "dir").mkdir()
    (workdir / "dir" / "we\\ird.txt").write_bytes(b"weird\n")
    (workdir / "dir" / "plain.txt").write_bytes(b"plain\n")
    run = Proc(["/CreateOnly", "/Dir:dir"], workdir, env)
    assert run.finish() == 0, run.stderr
    assert "Adding file we\\ird.txt" in run.lines
    with zipfile.ZipFile(workdir / "Compressed.zip") as z:
        # Entry names use '/' between folders, so the backslash becomes one.
        assert z.read("we/ird.txt") == b"weird\n"
        assert z.read("plain.txt") == b"plain\n"


@pytest.fixture
def small_disk(tmp_path):
    """A 1 MiB file system (tmpfs) when this process may mount one; else
    None, and the test limits the file size instead."""
    mount = tmp_path / "small"
    mount.mkdir()
    ok = os.geteuid() == 0 and subprocess.run(
        ["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(mount)],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    yield mount, ok
    if ok:
        subprocess.run(["umount", str(mount)])


def test_full_disk_leaves_no_archive_and_says_why(workdir, env, small_disk):
    mount, mounted = small_disk
    (workdir / "src").mkdir()
    (workdir / "src" / "data.bin").write_bytes(os.urandom(3 << 20))

    def limit_size():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

    run = subprocess.run([BIN, "/CreateOnly", "/Dir:src", "/Zip:%s/out.zip" % mount],
                         cwd=str(workdir), env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, preexec_fn=None if mounted else limit_size,
                         timeout=60)
    assert run.returncode == 3
    assert run.stdout.decode().splitlines()[-1] == FOLDER_FAILED
    reason = "No space left on device" if mounted else "File too large"
    assert ("%s/out.zip: %s" % (mount, reason)) in run.stderr.decode(), run.stderr
    assert os.listdir(mount) == []
