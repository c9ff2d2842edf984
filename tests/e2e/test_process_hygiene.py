"""The process around the run: standard descriptors the caller closed,
signals a failed write raises, secrets kept out of core files and other
processes' reach, and reasons and warnings on standard error for command
lines that would otherwise go wrong without a word."""
import base64
import collections
import mailbox
import os
import signal
import socket
import subprocess
import zipfile

import pytest
from aiosmtpd.smtp import SMTP, AuthResult

import smtp_util
from conftest import BIN, unprivileged
from smtp_util import SmtpSink
from test_linux_cli import readme_options


def make_tree(workdir):
    (workdir / "src" / "sub").mkdir(parents=True)
    for i in range(12):
        (workdir / "src" / ("f%02d.txt" % i)).write_bytes(os.urandom(3000) * 4)
    (workdir / "src" / "sub" / "deep.txt").write_text("deep\n")


def zip_names(path):
    with zipfile.ZipFile(path) as z:
        assert z.testzip() is None
        return sorted(z.namelist())


def leftovers(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(".tmp") or n.startswith("core"))


# --- closed standard descriptors ---------------------------------------------

@pytest.mark.parametrize("closed", ["1", "1 2"])
def test_closed_standard_descriptors_never_receive_a_file(workdir, env, closed):
    make_tree(workdir)
    redirect = " ".join(fd + ">&-" for fd in closed.split())
    proc = subprocess.run(["sh", "-c", 'exec "$0" "$@" ' + redirect, BIN,
                           "/CreateOnly", "/Zip:a.zip", "/Dir:src"],
                          cwd=workdir, env=env, stdin=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=60)
    assert proc.returncode == 0
    assert proc.stderr == b""
    # The "Adding file" lines went nowhere, not into the archive.
    assert zip_names(workdir / "a.zip") == ["f%02d.txt" % i for i in range(12)]


# --- SIGPIPE and SIGXFSZ: a failed write takes the failure path -------------

def run_with_gone_reader(args, cwd, env):
    """Runs the binary with standard output a pipe nobody reads any more."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        proc = subprocess.run([BIN, *args], cwd=cwd, env=env, stdout=write_end,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
    finally:
        os.close(write_end)
    return proc.returncode, proc.stderr.decode("latin-1")


def test_standard_output_going_away_does_not_stop_the_work(workdir, env):
    make_tree(workdir)
    code, err = run_with_gone_reader(["/CreateOnly", "/Zip:a.zip", "/Dir:src"], workdir, env)
    assert (code, err) == (0, "")
    assert len(zip_names(workdir / "a.zip")) == 12
    assert leftovers(workdir) == []
    # A delivery still happens, and the exit code tells how it went.
    sink = SmtpSink()
    try:
        code, err = run_with_gone_reader(
            ["/Receiver:r@dst.test", "/Sender:s@src.test", "/Mailserver:" + sink.address,
             "/Dir:src", "/Zip:b.zip"], workdir, env)
        assert (code, err) == (0, "")
        assert len(sink.messages) == 1
    finally:
        sink.stop()
    code, err = run_with_gone_reader(
        ["/Receiver:r@dst.test", "/Sender:s@src.test", "/Mailserver:127.0.0.1:1",
         "/File:src/f00.txt"], workdir, env)
    assert code == 5
    assert err.startswith("postrunner: ") and "127.0.0.1" in err
    assert sorted(os.listdir(workdir)) == ["a.zip", "src"]


FSIZE = ["prlimit", "--fsize=%d" % (100 * 1024), "--"]


@pytest.mark.parametrize("source, code", [("/File:big.bin", 4), ("/Dir:.", 3)])
def test_archive_past_the_file_size_limit_is_removed_with_a_reason(run, workdir, source,
                                                                   code):
    (workdir / "big.bin").write_bytes(os.urandom(300 * 1024))
    r = run("/CreateOnly", "/Zip:out.zip", source, prefix=FSIZE)
    assert r.code == code
    assert r.lines[-1].startswith("ERROR: Unable to add the ")
    assert "postrunner: out.zip: File too large\n" in r.stderr
    assert sorted(os.listdir(workdir)) == ["big.bin"]


def test_join_past_the_file_size_limit_is_removed_with_a_reason(run, workdir, tmp_path):
    data = os.urandom(300 * 1024)
    message = (b"From: a@b.test\nSubject: big\nMIME-Version: 1.0\n"
               b"Content-Type: application/octet-stream; name=\"big.bin\"\n"
               b"Content-Transfer-Encoding: base64\n\n" + base64.encodebytes(data))
    mailbox.mbox(str(tmp_path / "box")).add(message)
    r = run("/Join:" + str(tmp_path / "box"), "/JoinTo:" + str(workdir), prefix=FSIZE)
    assert r.code == 5
    assert len(r.lines) == 1 and r.lines[0].startswith("Not joined: big.bin from set ")
    assert "File too large" in r.stderr
    assert os.listdir(workdir) == []


# --- secrets stay out of core files and other processes' reach ---------------

class SilentServer:
    """Accepts connections on loopback and never says a word, so the client
    waits for the greeting with its secret loaded."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]

    def wait_for_client(self):
        self.sock.settimeout(30)
        conn, _ = self.sock.accept()
        return conn


def core_pattern_is_local():
    """Whether a core file would be written in the process's own folder."""
    try:
        pattern = open("/proc/sys/kernel/core_pattern").read().strip()
    except OSError:
        return False
    return pattern != "" and "/" not in pattern and not pattern.startswith("|")


@pytest.mark.parametrize("where", ["file", "environment", "ftp"])
def test_a_process_holding_a_secret_is_not_dumpable(workdir, env, where):
    (workdir / "a.txt").write_text("x")
    secret = "pw-" + os.urandom(8).hex()
    server = SilentServer()
    e = dict(env)
    if where == "ftp":
        args = ["/FTPServer:127.0.0.1:%d" % server.port, "/FTPUser:u", "/File:a.txt"]
        e["POSTRUNNER_FTP_PASSWORD"] = secret
    else:
        args = ["/Receiver:r@dst.test", "/Sender:s@src.test", "/MailUser:u",
                "/Mailserver:127.0.0.1:%d" % server.port, "/File:a.txt"]
        if where == "file":
            (workdir / "pw").write_text(secret + "\n")
            os.chmod(workdir / "pw", 0o600)
            args.append("/MailPasswordFile:pw")
        else:
            e["POSTRUNNER_MAIL_PASSWORD"] = secret
    # Root's powers would let it read any process: the run and the reader
    # are plain processes of one user.
    plain = unprivileged()
    proc = subprocess.Popen(["prlimit", "--core=unlimited", "--", *plain, BIN, *args],
                            cwd=workdir, env=e, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        conn = server.wait_for_client()
        reader = subprocess.run([*plain, "cat", "/proc/%d/environ" % proc.pid],
                                capture_output=True)
        assert reader.returncode != 0 and secret.encode() not in reader.stdout
        proc.send_signal(signal.SIGQUIT)
        assert proc.wait(30) == -signal.SIGQUIT
        conn.close()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        server.sock.close()
    if core_pattern_is_local():
        assert leftovers(workdir) == []


class LongLineSMTP(SMTP):
    """aiosmtpd with command lines of any length, such as a long AUTH line."""
    line_length_limit = 1 << 20
    command_size_limit = 1 << 20
    command_size_limits = collections.defaultdict(lambda: 1 << 20)


def test_a_secret_file_with_an_overlong_first_line_is_refused(run, workdir, monkeypatch):
    (workdir / "a.txt").write_text("x")
    passwords = []

    def accept_anything(server, session, envelope, mechanism, auth_data):
        passwords.append(auth_data.password)
        return AuthResult(success=True)

    monkeypatch.setattr(smtp_util, "SMTP", LongLineSMTP)
    sink = SmtpSink(auth_require_tls=False, authenticator=accept_anything)
    try:
        for length, code in ((16 * 1024, 0), (8 << 20, 5)):
            (workdir / "pw").write_bytes(b"p" * length + b"\r\nsecond line\n")
            os.chmod(workdir / "pw", 0o600)
            r = run("/Receiver:r@dst.test", "/Sender:s@src.test", "/MailUser:u",
                    "/MailPasswordFile:pw", "/Mailserver:" + sink.address, "/File:a.txt")
            assert r.code == code
        assert passwords == [b"p" * 16 * 1024]
        assert len(sink.messages) == 1
        assert r.lines[-1] == "ERROR: File a.txt not sent to r@dst.test"
        assert r.stderr == "postrunner: the password file pw has a first line over 16 KiB: " \
                           "no password or token\n"
    finally:
        sink.stop()


# --- usage errors name the missing value on standard error -----------------

@pytest.mark.parametrize("args, line, reason", [
    ([], "ERROR: Set the receiver", "no receiver: give /Receiver:"),
    (["/Receiver:r", "/File:x"], "ERROR: Set the sender", "no sender: give /Sender:"),
    (["/Receiver:r", "/Sender:s"], "ERROR: Set the file to send",
     "nothing to send: give /File:PATH, /Filename:PATH or /Dir:"),
    (["/CreateOnly", "/Dir:"], "ERROR: Incomplete Parameter /Dir:", "/Dir: names no folder"),
    (["/FTPServer:h", "/File:x"], "ERROR: Set the FTP Username", "no FTP user: give /FTPUser:"),
    (["/FTPServer:h", "/FTPUser:u", "/File:x"], "ERROR: Set the FTP Username",
     "no FTP password: give /FTPPassword:, POSTRUNNER_FTP_PASSWORD or /FTPPasswordFile:"),
    (["/CreateOnly", "/Zip:x.zip", "/File:x.zip"], "In File and Zip Mode the filename to zip "
     "and te zipfile need to have different names", "the file to pack is the archive x.zip"),
])
def test_usage_errors_name_the_missing_value_on_standard_error(run, args, line, reason):
    r = run(*args)
    assert r.code == 1
    assert line in r.lines
    assert len(r.stderr.splitlines()) == 1
    assert r.stderr.startswith("postrunner: " + reason)


# --- ignored arguments are warned about --------------------------------------

def test_ignored_arguments_are_warned_about_and_change_nothing(run, workdir):
    make_tree(workdir)
    plain = run("/CreateOnly", "/zip:out.zip", "/Dir:src")
    assert plain.code == 0 and plain.stderr == ""
    r = run("/CreateOnly", "/zip:out.zip", "/Dir:src", "/Recurce", "/StartTSL", "--hlep",
            "src", "/MailPasword:hunter2", "/Dir:other", "/ZIP", "", stderr_ok=True)
    assert (r.code, r.lines) == (0, plain.lines)
    assert "RECURSE Mode" not in r.lines
    assert r.stderr.splitlines() == [
        "postrunner: /Recurce matches no option and is ignored",
        "postrunner: /StartTSL matches no option and is ignored",
        "postrunner: --hlep matches no option and is ignored",
        "postrunner: argument 7 matches no option and is ignored",
        "postrunner: /MailPasword: matches no option and is ignored",
        "postrunner: /Dir: is given more than once; argument 9 is ignored, the first one counts",
        "postrunner: /Zip is given more than once; argument 10 is ignored, the first one counts",
        "postrunner: argument 11 matches no option and is ignored",
    ]
    # Every documented option is known.
    options = readme_options()
    r = run(*[o + "x" if o.endswith(":") else o for o in options], stderr_ok=True)
    assert "matches no option" not in r.stderr and "more than once" not in r.stderr
