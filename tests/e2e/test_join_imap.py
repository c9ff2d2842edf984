""""/Join:imaps://..." against a real dovecot: the pieces are searched for
on the server, fetched, and joined with the local join's lines and exit
codes; unread pieces stay unread, /JoinDelete takes away exactly the
pieces of the sets written, and bad logins, mailboxes, certificates and
URLs fail with their exit codes and reasons, without a secret on any
output."""
import os
import random
import subprocess

import pytest

from conftest import BIN, Run
from imap_util import PASSWORD, USER, append, flags_by_subject, start_dovecot
from test_join_mailbox import big_set

SET_ID = "2375.20260203100705.4242.9f3c0a1b2c3d4e5f.src.test"


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    dovecot = start_dovecot(tmp_path_factory.mktemp("dovecot"))
    yield dovecot
    dovecot.stop()


@pytest.fixture(scope="module")
def data():
    return random.Random(11).randbytes(3000000)


def join(server, url, out, *extra, password=PASSWORD, cafile=True):
    args = [BIN, "/Join:" + url, "/JoinTo:" + str(out)]
    if cafile:
        args.append("/CAFile:" + server.ca[0])
    spool = out.parent / "tmp"
    spool.mkdir(exist_ok=True)
    env = dict(os.environ, POSTRUNNER_MAIL_PASSWORD=password, TMPDIR=str(spool))
    proc = subprocess.run(args + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, env=env, timeout=120, cwd=str(out))
    assert os.listdir(spool) == []  # the spool folder went, whatever the outcome
    return Run(proc)


def renamed(pieces, set_id):
    return [p.replace(SET_ID.encode(), set_id.encode()) for p in pieces]


def fresh_mailbox(server, name):
    box = server.client()
    assert box.create('"%s"' % name)[0] == "OK"
    return box


@pytest.fixture
def out(tmp_path):
    folder = tmp_path / "out"
    folder.mkdir()
    return folder


def test_rebuilds_byte_exact_and_leaves_flags_as_they_were(server, data, out):
    box = fresh_mailbox(server, "Flags")
    pieces = big_set(data)
    append(box, "Flags", b"From: a@src.test\nSubject: ordinary\n\nhello\n")
    append(box, "Flags", pieces[0], seen=True)
    append(box, "Flags", pieces[1])
    append(box, "Flags", pieces[2])
    logins = server.log().count("Login: user=<%s>" % USER)
    run = join(server, server.url("Flags"), out)
    assert run.code == 0, run.stderr
    assert server.log().count("Login: user=<%s>" % USER) == logins + 1  # one for the run
    assert run.lines == ["Joined big.bin from 3 pieces, %d bytes" % len(data)]
    assert (out / "big.bin").read_bytes() == data
    assert sorted(os.listdir(out)) == ["big.bin"]  # the ordinary message gives no file
    flags = flags_by_subject(box, "Flags")
    assert "\\Seen" in flags["big.bin (part 1 of 3)"]
    for k in (2, 3):
        assert "\\Seen" not in flags["big.bin (part %d of 3)" % k], flags
    assert "\\Seen" not in flags["ordinary"]
    assert PASSWORD not in run.stdout + run.stderr


def test_mailbox_names_with_blanks_and_letters_beyond_ascii(server, data, out):
    # "Teile 台北" in modified UTF-7, as the server names it.
    box = fresh_mailbox(server, "Teile &U,BTFw-")
    for piece in big_set(data):
        append(box, "Teile &U,BTFw-", piece)
    run = join(server, server.url("Teile 台北"), out)
    assert run.code == 0, run.stderr
    assert (out / "big.bin").read_bytes() == data
    # Percent-escaped, over imap:// with STARTTLS to loopback.
    os.remove(out / "big.bin")
    run = join(server, server.url("Teile%20%E5%8F%B0%E5%8C%97", scheme="imap"), out)
    assert run.code == 0, run.stderr
    assert (out / "big.bin").read_bytes() == data


def test_join_delete_removes_exactly_the_pieces_of_written_sets(server, data, out):
    box = fresh_mailbox(server, "Delete")
    done = renamed(big_set(data), "done.1@src.test")
    partial = renamed(big_set(data), "partial.2@src.test")
    append(box, "Delete", b"From: a@src.test\nSubject: ordinary\n\nhello\n")
    for piece in done + partial[:2]:
        append(box, "Delete", piece)
    logins = server.log().count("Login: user=<%s>" % USER)
    run = join(server, server.url("Delete"), out, "/JoinDelete")
    assert run.code == 5
    assert server.log().count("Login: user=<%s>" % USER) == logins + 1
    assert run.lines == ["Joined big.bin from 3 pieces, %d bytes" % len(data),
                         "Incomplete set partial.2@src.test: missing pieces 3 of 3"]
    assert sorted(flags_by_subject(box, "Delete")) == [
        "big.bin (part 1 of 3)", "big.bin (part 2 of 3)", "ordinary"]
    box.select('"Delete"', readonly=True)
    typ, data_ = box.uid("SEARCH", None, "HEADER", "Content-Type", "partial.2@src.test")
    assert len(data_[0].split()) == 2


def test_bad_login_mailbox_certificate_and_urls(server, data, out):
    run = join(server, server.url("INBOX"), out, password="wrong-Pw-123")
    assert run.code == 5
    assert "AUTHENTICATIONFAILED" in run.stderr, run.stderr
    assert "wrong-Pw-123" not in run.stdout + run.stderr
    run = join(server, server.url("NoSuchBox"), out)
    assert run.code == 5 and "Mailbox doesn't exist: NoSuchBox" in run.stderr, run.stderr
    run = join(server, server.url("INBOX"), out, cafile=False)
    assert run.code == 5 and "certificate" in run.stderr.lower(), run.stderr
    port = server.imaps_port
    for url in ("imaps://%s@127.0.0.1:%d/INBOX/sub" % (USER, port),
                "imaps://%s@127.0.0.1:%d/INBOX;UID=1" % (USER, port),
                "imaps://%s@127.0.0.1:%d/INBOX?ALL" % (USER, port),
                "imaps://%s:%s@127.0.0.1:%d/INBOX" % (USER, PASSWORD, port),
                "imaps://%s@127.0.0.1:99999/INBOX" % USER):
        run = join(server, url, out)
        assert run.code == 1, url
        assert run.stdout == "" and PASSWORD not in run.stderr, run.stderr
    assert os.listdir(out) == []
