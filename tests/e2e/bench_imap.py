"""Prints the cost of "/Join:imaps://..." against `curl` fetching the same
UIDs over one connection, as a peer.

    /usr/bin/python3 tests/e2e/bench_imap.py BUILD/postrunner [MEGABYTES] [RUNS]

Stores a file of random bytes (default 50 MB) in pieces of about 1.4 MB
(the base64 text of the file cut into message/partial messages) in the
INBOX of a dovecot of the test's own on loopback, then times, RUNS times
each (default 3): curl fetching every piece's UID into files over one
connection; the join with every piece read; the join with every piece
unread (one UID STORE more to keep them unread); and, for the share of
the join itself, the local join of the same pieces as .eml files. Each join's file
is checked against the original. Prints wall time and client CPU time
(user + system of the children) per run, and the best of each.
"""
import base64
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from imap_util import PASSWORD, USER, append, start_dovecot  # noqa: E402

PIECE_LINES = 18000  # lines of 76 base64 characters: about 1.4 MB a piece


def pieces_of(data, name="bench.bin"):
    text = base64.encodebytes(data)
    enclosed = (b"MIME-Version: 1.0\nContent-Type: application/octet-stream\n"
                b"Content-Transfer-Encoding: base64\nContent-Disposition: attachment; "
                b'filename="%s"; size=%d\n\n' % (name.encode(), len(data)) + text)
    lines = enclosed.split(b"\n")
    total = -(-len(lines) // PIECE_LINES)
    for k in range(total):
        body = b"\n".join(lines[k * PIECE_LINES:(k + 1) * PIECE_LINES])
        if k < total - 1:
            body += b"\n"
        yield (b"From: s@src.test\nSubject: %s (part %d of %d)\nMIME-Version: 1.0\n"
               b'Content-Type: message/partial; id="bench@src.test"; number=%d; total=%d\n\n'
               % (name.encode(), k + 1, total, k + 1, total) + body)


def timed(command, env=None, cwd=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    proc = subprocess.run(command, env=env, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if proc.returncode != 0:
        sys.exit("failed (%d): %s" % (proc.returncode, proc.stderr.decode(errors="replace")))
    return wall, cpu


def main():
    binary = os.path.abspath(sys.argv[1])
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    folder = tempfile.mkdtemp(prefix="bench-imap-")
    server = start_dovecot(folder)
    try:
        data = random.Random(5).randbytes(megabytes * 1000 * 1000)
        box = server.client()
        count = 0
        local = os.path.join(folder, "local")
        os.mkdir(local)
        for piece in pieces_of(data):
            append(box, "INBOX", piece, seen=True)
            count += 1
            with open(os.path.join(local, "%03d.eml" % count), "wb") as f:
                f.write(piece.replace(b"\n", b"\r\n"))
        print("%d MB in %d pieces on imaps://127.0.0.1:%d/INBOX" % (megabytes, count,
                                                                   server.imaps_port))
        out = os.path.join(folder, "out")
        os.mkdir(out)
        env = dict(os.environ, POSTRUNNER_MAIL_PASSWORD=PASSWORD)
        join = [binary, "/Join:" + server.url("INBOX"), "/JoinTo:" + out,
                "/CAFile:" + server.ca[0]]
        curl = ["curl", "-sS", "--fail", "--cacert", server.ca[0], "-u", USER + ":" + PASSWORD,
                "imaps://127.0.0.1:%d/INBOX;UID=[1-%d]" % (server.imaps_port, count),
                "-o", os.path.join(out, "uid_#1")]
        results = {}

        def run(label, command, check):
            best = None
            for _ in range(runs):
                for name in os.listdir(out):
                    os.unlink(os.path.join(out, name))
                wall, cpu = timed(command, env=env, cwd=out)
                check()
                print("%-28s wall %6.2f s  cpu %5.2f s" % (label, wall, cpu))
                best = (wall, cpu) if best is None or wall < best[0] else best
            results[label] = best

        def joined():
            with open(os.path.join(out, "bench.bin"), "rb") as f:
                assert f.read() == data, "the joined file differs"

        def fetched():
            assert len(os.listdir(out)) == count

        run("curl, one connection", curl, fetched)
        run("local join, same pieces", [binary, "/Join:" + local, "/JoinTo:" + out], joined)
        run("join, pieces read", join, joined)
        box.select("INBOX")
        box.uid("STORE", "1:*", "-FLAGS.SILENT", "(\\Seen)")
        run("join, pieces unread", join, joined)
        peer = results["curl, one connection"][0]
        for label, (wall, cpu) in results.items():
            print("best %-23s wall %6.2f s (%.2fx curl)  cpu %5.2f s" % (label, wall,
                                                                      wall / peer, cpu))
    finally:
        server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
