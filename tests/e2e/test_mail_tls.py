"""Secure submission end to end: STARTTLS and TLS from the first byte with
certificates of a private CA, AUTH PLAIN, LOGIN and XOAUTH2, against
aiosmtpd on loopback; every byte on the wire passes a tap that must never
see a secret."""
import io
import os
import re
import ssl
import subprocess
import zipfile

import pytest

from conftest import BANNER, BIN, Run
from smtp_util import join_pieces, single_attachment
from test_mail import MIME_TYPES, RECEIVER, SENDER, payload
from smtp_tls_util import (PASSWORD, TOKEN, USER, WireTap,
                           own_outside_address, secret_forms, server_context, tls_sink)

WRONG = "wrong-Pa55word"

# Implicit TLS and the loopback case need AUTH without aiosmtpd's STARTTLS.
pytestmark = pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")


@pytest.fixture
def send(env, workdir, tmp_path):
    """send(server, *options, extra_env={}) runs the binary (stderr allowed)."""
    (tmp_path / "mime.types").write_text(MIME_TYPES)

    def _send(server, *options, extra_env=None):
        e = dict(env, **(extra_env or {}))
        proc = subprocess.run([BIN, "/Receiver:" + RECEIVER, "/Sender:" + SENDER,
                               "/Mailserver:" + server, *options], cwd=str(workdir), env=e,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        return Run(proc)
    return _send


def secret_file(folder, text, mode=0o600):
    path = folder / "secret.txt"
    path.write_text(text + "\n")
    os.chmod(path, mode)
    return "/MailPasswordFile:" + str(path)


def assert_no_secret(run, tap):
    """No secret in stdout or stderr, nor on the wire unless `tap` is None."""
    for form in secret_forms() + [WRONG.encode()]:
        assert form not in run.stdout.encode("latin-1"), form
        assert form not in run.stderr.encode("latin-1"), form
        assert tap is None or form not in bytes(tap.log), form


@pytest.mark.parametrize("mode,auth,source,kind", [
    ("starttls", "", "option", "split"),
    ("starttls", "login", "env", "dir"),
    ("tls", "xoauth2", "presets", "single"),
    ("plain", "", "env", "single"),  # AUTH without TLS, but only to loopback
])
def test_delivers_over_tls_with_auth(certs, send, workdir, tmp_path, mode, auth, source, kind):
    sink = tls_sink(certs, mode, auth_required=True)
    tap = WireTap(sink.port)
    try:
        secret = TOKEN if auth == "xoauth2" else PASSWORD
        options = ["/MailUser:" + USER, "/CAFile:" + str(certs / "ca.pem")]
        options += {"starttls": ["/StartTLS"], "tls": ["/TLS"], "plain": []}[mode]
        options += ["/MailAuth:" + auth] if auth else []
        extra_env = {}
        if source == "option":
            options.append("/MailPassword:" + secret)
        elif source == "env":
            extra_env["POSTRUNNER_MAIL_PASSWORD"] = secret
        else:
            # Everything from the presets: the machine's, overridden by the user's.
            secret_file(tmp_path, secret)
            values = {"Security": mode, "MailUser": USER, "MailAuth": auth,
                      "MailPasswordFile": str(tmp_path / "secret.txt"),
                      "CAFile": str(certs / "ca.pem")}
            preset = '"%s"="%s"\n'
            (tmp_path / "machine.reg").write_text(
                "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Veltrona\\Dropcart]\n" +
                "".join(preset % (k, "wrong") for k in values))
            (tmp_path / "user.reg").write_text(
                "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n" +
                "".join(preset % (k, v) for k, v in values.items()))
            options = []
        data = payload(1200000 if kind == "split" else 5000)
        if kind == "dir":
            (workdir / "in").mkdir()
            (workdir / "in" / "a.bin").write_bytes(data)
            options.append("/Dir:in")
        else:
            (workdir / "f.bin").write_bytes(data)
            options.append("/File:f.bin")
        r = send("localhost:%d" % tap.port, *options, extra_env=extra_env)
        assert (r.code, r.stderr) == (0, ""), r.stdout
        assert r.lines[-1].endswith("sent to " + RECEIVER)
        contents = [m.content for m in sink.messages]
        assert all(re.search(rb"\r\nMessage-ID: <[^@>]+@[^>]+>\r\n", c) for c in contents)
        if kind == "split":
            assert len(contents) == 2
            assert join_pieces(contents)[1] == data
        else:
            assert len(contents) == 1
            name, _, got = single_attachment(contents[0])
            if kind == "dir":
                got = zipfile.ZipFile(io.BytesIO(got)).read("a.bin")
            assert got == data
        if mode == "plain":
            assert b"\r\nAUTH PLAIN " in bytes(tap.log)  # in clear, over loopback only
        assert_no_secret(r, tap if mode != "plain" else None)
    finally:
        tap.close()
        sink.stop()


@pytest.mark.parametrize("mode,tls12", [("starttls", False), ("tls", False), ("starttls", True)])
def test_later_pieces_resume_the_tls_session_of_the_first(certs, send, workdir, mode, tls12):
    """One full handshake per send: the connections of the later pieces
    resume the TLS session of the first (the server counts the sessions it
    resumed; TLS 1.3 tickets come after the handshake, TLS 1.2 sessions with
    it), which with /SplitSize:auto is also the one that read SIZE."""
    context = server_context(certs, "good")
    if tls12:
        context.maximum_version = ssl.TLSVersion.TLSv1_2
    sink = tls_sink(certs, mode, context=context, data_size_limit=20000)
    try:
        data = payload(40000, seed=3)
        (workdir / "f.bin").write_bytes(data)
        r = send(sink.address.replace("127.0.0.1", "localhost"), "/CAFile:" + str(certs / "ca.pem"),
                 {"starttls": "/StartTLS", "tls": "/TLS"}[mode], "/SplitSize:auto", "/File:f.bin")
        assert (r.code, r.stderr) == (0, ""), r.stdout
        contents = [m.content for m in sink.messages]
        assert len(contents) == 3
        assert join_pieces(contents)[1] == data
        stats = context.session_stats()
        assert (stats["accept_good"], stats["hits"]) == (3, 2), stats
    finally:
        sink.stop()


# (id, sink mode, certificate, sink options, extra options, reason on stderr)
FAILURES = [
    ("no_starttls", "plain", "good", {}, ["/StartTLS"], "does not offer STARTTLS"),
    ("self_signed", "starttls", "self", {}, ["/StartTLS"],
     "certificate verify failed: self-signed certificate"),
    ("wrong_host", "starttls", "other", {}, ["/StartTLS"], "host name mismatch"),
    ("expired", "tls", "expired", {}, ["/TLS"], "certificate has expired"),
    ("wrong_password", "starttls", "good", {}, ["/StartTLS", "/MailPassword:" + WRONG], "535"),
    ("wrong_token", "tls", "good", {}, ["/TLS", "/MailAuth:xoauth2", "/MailPassword:" + WRONG],
     "refused AUTH XOAUTH2 for %s: 535" % USER),
    ("password_file_0644", "starttls", "good", {}, ["/StartTLS", "file0644"], "chmod 600"),
    ("over_size", "starttls", "good", {"data_size_limit": 20000}, ["/StartTLS", "/NoSplit"],
     r"the message is \d{5} bytes, more than the 20000 bytes .*without /NoSplit"),
    # Reached at an address of this machine that is not loopback: the peer the
    # socket names decides, and the conversation stops before AUTH.
    ("unencrypted_remote", "plain", "good", {}, [], "refusing to send credentials unencrypted"),
]


@pytest.mark.parametrize("case", FAILURES, ids=[f[0] for f in FAILURES])
def test_secure_submission_failures(certs, send, workdir, tmp_path, case):
    name, mode, stem, sink_options, extra, reason = case
    outside = own_outside_address() if name == "unencrypted_remote" else None
    if name == "unencrypted_remote" and outside is None:
        pytest.skip("this machine has no address but loopback")
    sink = tls_sink(certs, mode, stem, **sink_options)
    tap = WireTap(sink.port, host=outside or "127.0.0.1")
    try:
        options = ["/MailUser:" + USER, "/CAFile:" + str(certs / "ca.pem"), "/File:f.bin"]
        for option in extra:
            options.append(secret_file(tmp_path, PASSWORD, 0o644) if option == "file0644"
                           else option)
        password = {} if any(o.startswith("/MailPassword") for o in options) else {
            "POSTRUNNER_MAIL_PASSWORD": PASSWORD}
        (workdir / "f.bin").write_bytes(payload(30000))
        r = send("%s:%d" % (outside or "localhost", tap.port), *options, extra_env=password)
        assert r.code == 5, (r.stdout, r.stderr)
        dispatched = name != "password_file_0644"
        assert r.lines == BANNER + (["Dont split ZIP files"] if "/NoSplit" in extra else []) + [
            "FILE Mode"] + (["Opened file", "No Splitting needed"] if dispatched else []) + [
            "ERROR: File f.bin not sent to " + RECEIVER]
        assert re.search(reason, r.stderr), r.stderr
        assert r.stderr.startswith("postrunner: ")
        if outside:
            assert r.stderr == ("postrunner: refusing to send credentials unencrypted to "
                                "%s:%d (use /StartTLS or /TLS)\n" % (outside, tap.port))
            assert b"\r\nEHLO " in bytes(tap.log) and b"\r\nAUTH " not in bytes(tap.log)
        assert sink.messages == []
        assert_no_secret(r, tap)
    finally:
        tap.close()
        sink.stop()
