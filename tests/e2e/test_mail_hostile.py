"""Mail delivery against hostile input and failing servers: addresses with
control characters, file names that are not plain ASCII, split sends started
together, too little memory, and the reason a failed delivery gives."""
import email
import email.policy
import os
import resource
import subprocess

import pytest

from conftest import BANNER, BIN, Run
from test_main_flow import USAGE
from smtp_util import all_defects, join_pieces, partial_params
from test_mail import (MIME_TYPES, PIECE, RECEIVER, SENDER, dead_server, mail, payload,  # noqa: F401
                       smtp)


@pytest.mark.parametrize("where", ["receiver", "sender", "registry sender"])
def test_address_with_control_characters_is_refused(run, smtp, workdir, tmp_path, where):
    (workdir / "a.txt").write_bytes(b"a")
    evil = "r@x.org>\r\nRCPT TO: <evil@y.org"
    options = ["/Receiver:" + RECEIVER, "/Sender:" + SENDER]
    if where == "receiver":
        options[0] = "/Receiver:" + evil
    elif where == "sender":
        options[1] = "/Sender:" + evil.replace("\r", "")
    else:
        options.pop()
        (tmp_path / "user.reg").write_bytes(
            b'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n'
            b'"Sender"="s@x.org>\rRCPT TO: <evil@y.org"\n')
    r = run(*options, "/Mailserver:" + smtp.address, "/File:a.txt")
    role = "receiver" if where == "receiver" else "sender"
    assert r.lines == BANNER + ["ERROR: Set the " + role] + USAGE
    assert r.code == 1
    assert r.stderr.startswith("postrunner: the %s address " % role)
    assert "control character 0x0" in r.stderr and r.stderr.count("\n") == 1
    assert smtp.offered == 0


NAMES = [
    "résumé €.txt".encode(),        # UTF-8
    b"caf\xe9 cr\xe8me.txt",         # not UTF-8: sent as ISO-8859-1
    b"two\nlines: x.txt",            # a line feed must not start a header line
    b"tab\there \"q\".txt",          # a tab and quotes in an otherwise plain name
    "ж" .encode() * 40 + b".txt",    # long: several encoded-words and sections
]


@pytest.mark.parametrize("raw", NAMES)
def test_names_that_are_not_plain_ascii_are_encoded(mail, smtp, workdir, raw):
    data = payload(5000, seed=len(raw))
    (workdir / os.fsdecode(raw)).write_bytes(data)
    r = mail(b"/File:" + raw)
    assert r.code == 0
    content = smtp.messages[0].content
    head = content[:content.index(b"\r\n-----------------1V02Corvuspost--")]
    for line in head.split(b"\r\n"):
        assert all(0x20 <= b < 0x7f for b in line), line  # plain ASCII lines only
    text = raw.decode("utf-8") if raw.startswith(("r".encode(), "ж".encode())) \
        else raw.decode("latin-1")
    msg = email.message_from_bytes(content, policy=email.policy.default)
    assert str(msg["Subject"]) == "Veltrona Dropcart sent " + text.replace("\n", " ")
    part = next(msg.iter_attachments())
    assert part.get_filename() == text
    assert part.get_param("name") == text
    assert part.get_payload(decode=True) == data
    assert all_defects(msg) == []


def test_split_sends_started_together_get_their_own_ids(env, smtp, tmp_path):
    (tmp_path / "mime.types").write_text(MIME_TYPES)
    files, procs = {}, []
    for k in range(4):
        folder = tmp_path / ("run%d" % k)
        folder.mkdir()
        files[k] = payload(PIECE + 1000, seed=20 + k)
        (folder / "big.bin").write_bytes(files[k])
        procs.append(subprocess.Popen(
            [BIN, "/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:" + smtp.address,
             "/File:big.bin"], cwd=folder, env=env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    assert [p.wait(120) for p in procs] == [0] * 4
    by_id = {}
    for m in smtp.messages:
        by_id.setdefault(partial_params(m.content)[0], []).append(m.content)
    assert len(by_id) == 4
    joined = sorted(join_pieces(pieces)[1] for pieces in by_id.values())
    assert joined == sorted(files.values())


@pytest.mark.skipif(os.environ.get("POSTRUNNER_SANITIZED") == "1",
                    reason="the sanitizers reserve far more address space than any limit")
@pytest.mark.parametrize("limit_mb,delivered", [(80, True), (30, False)])
def test_large_message_under_a_memory_limit(env, smtp, workdir, tmp_path, limit_mb, delivered):
    """A 30 MB file is 40 MB of base64: held once it fits in 80 MB; when even
    that cannot be had, the delivery fails with its reason, never an abort."""
    (tmp_path / "mime.types").write_text(MIME_TYPES)
    data = os.urandom(30 * 1000 * 1000)
    (workdir / "big.bin").write_bytes(data)

    def limit():
        size = limit_mb * 1000 * 1000
        resource.setrlimit(resource.RLIMIT_AS, (size, size))

    r = Run(subprocess.run(
        [BIN, "/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:" + smtp.address,
         "/NoSplit", "/File:big.bin"], cwd=workdir, env=env, preexec_fn=limit,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120))
    if delivered:
        assert (r.code, r.stderr) == (0, "")
        assert len(smtp.messages) == 1
    else:
        assert r.code == 5
        assert r.lines[-1] == "ERROR: File big.bin not sent to " + RECEIVER
        assert r.stderr == "postrunner: big.bin: cannot be attached: Cannot allocate memory\n"


@pytest.mark.parametrize("case", ["refused connection", "refused message", "missing file"])
def test_failed_delivery_says_why_on_stderr(mail, run, smtp, workdir, case):
    (workdir / "a.txt").write_bytes(b"a")
    if case == "refused connection":
        server = dead_server()
        r = run("/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:" + server,
                "/File:a.txt")
        reason = "cannot connect to the mail server %s: Connection refused" % server
    elif case == "refused message":
        smtp.refuse_from = 0
        r = mail("/File:a.txt")
        reason = "the mail server %s refused the message: 554 5.6.0 Message refused" % smtp.address
    else:
        r = mail("/File:gone.txt")
        reason = "gone.txt: No such file or directory"
    assert r.code == 5
    assert r.stderr == "postrunner: " + reason + "\n"
