"""The receiving side end to end: postrunner mails files to a real SMTP
server, the tests store what arrived with Python's mailbox module (mbox,
Maildir, .eml files), and "/Join:" rebuilds the files. Pieces of the tests'
own RFC 2046 splitter, hostile names and totals, broken base64, a full disk
and an existing file of the same name check the join's care."""
import base64
import io
import mailbox
import os
import random
import subprocess
import zipfile

import pytest

from conftest import BIN, Run
from smtp_util import SmtpSink, partial_params

PIECE = 998001
SIZES = {"empty.bin": 0, "one.bin": 1, "edge.bin": PIECE, "two.bin": PIECE + 1,
         "three.bin": 2500000}


def run_bin(*args, cwd, timeout=120):
    proc = subprocess.run([BIN, *args], cwd=str(cwd), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, stdin=subprocess.DEVNULL)
    return Run(proc)


def join(path, folder, cwd=None):
    return run_bin("/Join:" + str(path), "/JoinTo:" + str(folder), cwd=cwd or folder)


def joined_line(name, pieces, size):
    return "Joined %s from %d piece%s, %d bytes" % (name, pieces, "" if pieces == 1 else "s",
                                                    size)


@pytest.fixture(scope="module")
def sent(tmp_path_factory):
    """{name: (data, [message bytes])} for files postrunner mailed, and for
    the archive "folder.zip" of a "/Dir:" run ({path: data} of its files
    instead of data), which goes in two pieces."""
    work = tmp_path_factory.mktemp("send")
    rng = random.Random(5)
    tree = {"a.bin": rng.randbytes(700000), "sub/b.txt": b"text\n" * 50000 + rng.randbytes(600000)}
    for rel, data in tree.items():
        (work / "tree" / rel).parent.mkdir(parents=True, exist_ok=True)
        (work / "tree" / rel).write_bytes(data)
    runs = []
    for name, size in SIZES.items():
        runs.append((name, rng.randbytes(size), ["/File:" + name]))
        (work / name).write_bytes(runs[-1][1])
    runs.append(("folder.zip", tree, ["/Dir:" + str(work / "tree"), "/Recurse",
                                      "/Zip:folder.zip"]))
    out = {}
    sink = SmtpSink()
    try:
        for name, data, options in runs:
            before = len(sink.messages)
            r = run_bin("/Receiver:r@dst.test", "/Sender:s@src.test",
                        "/Mailserver:" + sink.address, *options, cwd=work)
            assert r.code == 0, r.stdout
            out[name] = (data, [m.content for m in sink.messages[before:]])
    finally:
        sink.stop()
    assert [len(out[n][1]) for n in out] == [1, 1, 1, 2, 3, 2]
    # A later piece's own header says nothing of an encoding (it is 7bit).
    for _, pieces in out.values():
        for later in pieces[1:]:
            assert b"Content-Transfer-Encoding" not in later.split(b"\r\n\r\n")[0]
    return out


def with_server_headers(content, k):
    return (b"Return-Path: <s@src.test>\r\nReceived: from sender (sender [127.0.0.1])\r\n"
            b"\tby mx.dst.test; Wed, 9 Dec 2026 01:00:00 +0000\r\n"
            b"Message-ID: <%d@mx.dst.test>\r\n" % k) + content


def store(kind, messages, path):
    """Stores `messages` (bytes) as an mbox file, a Maildir or a folder of .eml
    files (CR LF kept there, one in a sub-folder) at `path`."""
    if kind == "mbox":
        box = mailbox.mbox(str(path))
    elif kind == "maildir":
        box = mailbox.Maildir(str(path), create=True)
    else:
        (path / "sub").mkdir(parents=True)
        for k, m in enumerate(messages):
            (path / ("sub" if k % 2 else "") / ("%03d.eml" % k)).write_bytes(m)
        return
    for m in messages:
        box.add(m)
    box.flush()
    box.close()


def files_in(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir()}


@pytest.mark.parametrize("kind", ["mbox", "maildir", "eml"])
def test_joins_what_postrunner_sent_byte_exact(sent, tmp_path, kind):
    messages = [with_server_headers(m, k) if k % 2 else m
                for k, m in enumerate(m for _, ms in sent.values() for m in ms)]
    random.Random(kind).shuffle(messages)  # sets interleaved, pieces out of order
    store(kind, messages, tmp_path / "box")
    out = tmp_path / "out"
    out.mkdir()
    r = join(tmp_path / "box", out)
    assert (r.code, r.stderr) == (0, "")
    got = files_in(out)
    assert sorted(r.lines) == sorted(joined_line(n, len(ms), len(got[n]))
                                     for n, (_, ms) in sent.items())
    archive = got.pop("folder.zip")
    assert got == {n: d for n, (d, _) in sent.items() if n != "folder.zip"}
    assert subprocess.run(["unzip", "-tq", str(out / "folder.zip")],
                          stdout=subprocess.DEVNULL).returncode == 0
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        assert {n: z.read(n) for n in z.namelist() if not n.endswith("/")} == \
            sent["folder.zip"][0]


def partial_id(content):
    return partial_params(content)[0]


def replace_body(content, old, new):
    head, body = content.split(b"\r\n\r\n", 1)
    assert old in body
    return head + b"\r\n\r\n" + body.replace(old, new, 1)


def retotal(content, total):
    return content.replace(b"; total=3\r\n", b"; total=%s\r\n" % total, 1)


@pytest.mark.parametrize("case", ["duplicate", "missing", "different", "two totals",
                                  "absurd total", "base64 error"])
def test_faulty_sets_are_reported_and_good_sets_still_joined(sent, tmp_path, case):
    p1, p2, p3 = sent["three.bin"][1]
    set_id = partial_id(p1)
    pieces, line, written = {
        "duplicate": ([p1, p2, p3, p2], joined_line("three.bin", 3, 2500000), True),
        "missing": ([p3, p1], "Incomplete set %s: missing pieces 2 of 3" % set_id, False),
        "different": ([p1, p2, p3, replace_body(p2, b"A", b"B")],
                      "Inconsistent set %s: piece 2 appears twice with different bodies" % set_id,
                      False),
        "two totals": ([p1, p2, retotal(p3, b"4")],
                       "Inconsistent set %s: two totals, 3 and 4" % set_id, False),
        "absurd total": ([p1, retotal(p2, b"4294967295"), p3],
                         'Inconsistent set %s: total "4294967295" is not from 1 to 65536' % set_id,
                         False),
        "base64 error": ([p1, replace_body(p2, b"A", b"*"), p3],
                         "Not joined: three.bin from set %s (3 pieces)" % set_id, False),
    }[case]
    two_data, two_pieces = sent["two.bin"]
    store("mbox", pieces + [two_pieces[1], two_pieces[0]], tmp_path / "box")
    out = tmp_path / "out"
    out.mkdir()
    r = join(tmp_path / "box", out)
    assert r.lines == [line, joined_line("two.bin", 2, PIECE + 1)]
    assert r.code == (0 if written else 5)
    if case == "base64 error":
        assert r.stderr.startswith("postrunner: three.bin: invalid byte 42 at character ")
    expected = {"two.bin": two_data}
    if written:
        expected["three.bin"] = sent["three.bin"][0]
    assert files_in(out) == expected  # no half file, no temporary file


# The tests' own RFC 2046 splitter: the enclosed message is cut at line ends,
# piece 1 begins with its header, the outer headers carry no
# Content-Transfer-Encoding and only the last piece gives the total.
def split_rfc2046(enclosed, count, set_id, subject="parts", eol=b"\n"):
    lines = enclosed.replace(b"\r\n", b"\n").split(b"\n")
    per = -(-len(lines) // count)
    pieces = []
    for k in range(count):
        body = b"\n".join(lines[k * per:(k + 1) * per])
        if k < count - 1:
            body += b"\n"
        total = b"; total=%d" % count if k == count - 1 else b""
        header = (b"From: a@b.test\nSubject: %s\nMIME-Version: 1.0\n"
                  b"Content-Type: message/partial; id=\"%s\"; number=%d%s\n\n"
                  % (subject.encode(), set_id.encode(), k + 1, total))
        pieces.append((header + body).replace(b"\n", eol))
    return pieces


def b64_lines(data):
    return base64.encodebytes(data)  # lines of 76 characters


def test_pieces_of_another_splitter_with_a_multipart_inside(tmp_path):
    rng = random.Random(3)
    zip_data, text = rng.randbytes(300000), "Grüße, café\n= sign and tab\t\nlast line"
    qp = ("Gr=C3=BC=C3=9Fe, caf=C3=A9\n=3D sign and tab=09\nlast =\nline").encode()
    enclosed = (b"MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"=_b\"\n\n"
                b"preamble\n--=_b\nContent-Type: text/plain\n\nbody text, not a file\n"
                b"--=_b\nContent-Type: application/zip;\n name=\"=?UTF-8?B?w6TDtsO8LnppcA==?=\"\n"
                b"Content-Transfer-Encoding: base64\nContent-Disposition: attachment\n\n"
                + b64_lines(zip_data) +
                b"--=_b\nContent-Type: text/plain; charset=utf-8\n"
                b"Content-Transfer-Encoding: quoted-printable\nContent-Disposition: attachment;\n"
                b" filename*0*=UTF-8''notes%20%C3%BC; filename*1=\".txt\"\n\n" + qp +
                b"\n--=_b--\nepilogue\n")
    pieces = split_rfc2046(enclosed, 5, "other@splitter", eol=b"\r\n")
    store("eml", pieces[::-1], tmp_path / "box")
    out = tmp_path / "out"
    out.mkdir()
    r = join(tmp_path / "box", out)
    assert (r.code, r.stderr) == (0, "")
    assert sorted(l.encode("latin-1").decode() for l in r.lines) == [
                              joined_line("notes ü.txt", 5, len(text.encode()) + 2),
                               joined_line("äöü.zip", 5, 300000)]
    got = files_in(out)
    assert got["äöü.zip"] == zip_data
    assert got["notes ü.txt"] == text.replace("\n", "\r\n").encode()


def single_part(name_param, data=b"payload\n"):
    return (b"MIME-Version: 1.0\nContent-Type: application/octet-stream%s\n"
            b"Content-Transfer-Encoding: base64\n\n" % name_param + b64_lines(data))


@pytest.mark.parametrize("param,subject,expected", [
    (b'; name="../../x"', "s", "x"),
    (b'; name="/etc/x"', "s", "x"),
    (b'; name=".bashrc"', "s", "bashrc"),
    (b'; name="-rf"', "s", "rf"),
    (b"; name*=UTF-8''a%0Db%00c", "s", "a_b_c"),
    (b'; name="=?UTF-8?Q?=2E=2E=2Fevil=0A.txt?="', "s", "evil_.txt"),
    (b"", "=?UTF-8?B?bGlzdGUudHh0?= (part 1 of 2)", "liste.txt"),
    (b'; name=".."', "no part count", "id.1_x"),
])
def test_names_from_mail_stay_inside_the_folder(tmp_path, param, subject, expected):
    pieces = split_rfc2046(single_part(param), 2, "/id.1\x01x", subject=subject)
    store("mbox", pieces, tmp_path / "box")
    out = tmp_path / "out"
    out.mkdir()
    r = join(tmp_path / "box", out)
    assert (r.code, r.lines) == (0, [joined_line(expected, 2, 8)])
    assert files_in(out) == {expected: b"payload\n"}
    assert sorted(os.listdir(tmp_path)) == ["box", "out"]


def test_existing_file_is_never_overwritten(tmp_path):
    pieces = split_rfc2046(single_part(b'; name="backup.zip"'), 2, "i")
    store("mbox", pieces, tmp_path / "box")
    out = tmp_path / "out"
    out.mkdir()
    (out / "backup.zip").write_bytes(b"keep")
    (out / "backup (1).zip").write_bytes(b"keep too")
    r = join(tmp_path / "box", out)
    assert (r.code, r.lines) == (0, [joined_line("backup (2).zip", 2, 8)])
    assert files_in(out) == {"backup.zip": b"keep", "backup (1).zip": b"keep too",
                             "backup (2).zip": b"payload\n"}


def test_full_disk_leaves_nothing_behind(sent, tmp_path):
    out = tmp_path / "small"
    out.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(out)],
                      stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("cannot mount a small tmpfs here")
    try:
        store("mbox", sent["three.bin"][1], tmp_path / "box")
        r = join(tmp_path / "box", out)
        assert r.code == 5
        assert r.lines == ["Not joined: three.bin from set %s (3 pieces)"
                           % partial_id(sent["three.bin"][1][0])]
        assert "No space left on device" in r.stderr
        assert os.listdir(out) == []
    finally:
        subprocess.run(["umount", str(out)])


def test_unreadable_mailbox_and_mailbox_without_pieces(tmp_path):
    r = join(tmp_path / "missing", tmp_path)
    assert (r.code, r.lines) == (4, [])
    assert r.stderr.startswith("postrunner: cannot read ")
    mailbox.mbox(str(tmp_path / "plain")).add(b"Subject: hello\n\nno file here\n")
    r = join(tmp_path / "plain", tmp_path)
    assert (r.code, r.stderr) == (0, "")
    assert r.lines == ["No message/partial pieces found in %s" % (tmp_path / "plain")]
