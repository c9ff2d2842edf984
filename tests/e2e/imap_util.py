"""A real dovecot for the IMAP join tests: started in the foreground on
loopback ports with its own configuration, users (a passwd-file), TLS
certificate and Maildirs in a temporary folder, running as the current
user (root on CI, anyone else elsewhere). Pieces are delivered with IMAP
APPEND, which sets their flags as the test wants."""
import grp
import imaplib
import os
import pwd
import shutil
import ssl
import subprocess
import tempfile

import pytest

from support import free_port, listening, make_ca, make_server_cert, wait_until

DOVECOT = shutil.which("dovecot") or "/usr/sbin/dovecot"
USER, PASSWORD = "rcv", "s3cret-Imap-pw"
NOSTARTTLS_USER = "plain"

CONFIG = """\
base_dir = {side}/run
state_dir = {side}/state
log_path = {d}/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = yes
auth_mechanisms = plain login
default_internal_user = {user}
default_internal_group = {group}
default_login_user = {login_user}
first_valid_uid = 0
first_valid_gid = 0
mail_location = maildir:{side}/mail/%u
protocol imap {{
  mail_max_userip_connections = 50
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap_port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {imaps_port}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
service stats {{
  unix_listener stats-reader {{
    user = {user}
  }}
  unix_listener stats-writer {{
    user = {user}
  }}
}}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {side}/passwd
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {side}/passwd
  override_fields = uid={uid} gid={gid} home={side}/home/%u
}}
"""


class Dovecot:
    def __init__(self, folder):
        self.folder = str(folder)
        self.ca = make_ca(folder)
        self.cert = make_server_cert(folder, "imap", self.ca)
        self.imap_port, self.imaps_port = free_port(), free_port()
        uid, gid = os.getuid(), os.getgid()
        # Neither the login processes nor the mail processes run as root:
        # as root they run as unprivileged users, which must reach the
        # sockets and the mail in a folder they can enter.
        login_user = pwd.getpwuid(uid).pw_name
        self.side = self.folder
        if uid == 0:
            login_user = "dovenull" if _known_user("dovenull") else "nobody"
            uid, gid = pwd.getpwnam("nobody").pw_uid, pwd.getpwnam("nobody").pw_gid
            self.side = tempfile.mkdtemp(prefix="dovecot-")
            os.chmod(self.side, 0o755)
        self.run_dir = os.path.join(self.side, "run")
        for sub in ("run", "state", "mail", "home"):
            os.makedirs(os.path.join(self.side, sub), exist_ok=True)
        for sub in ("mail", "home"):
            os.chown(os.path.join(self.side, sub), uid, gid)
        with open(os.path.join(self.side, "passwd"), "w") as f:
            f.write("%s:{PLAIN}%s::::::\n" % (USER, PASSWORD))
        self.config = os.path.join(self.folder, "dovecot.conf")
        with open(self.config, "w") as f:
            f.write(CONFIG.format(d=self.folder, cert=self.cert[0], key=self.cert[1],
                                  user=pwd.getpwuid(uid).pw_name,
                                  group=grp.getgrgid(gid).gr_name, uid=uid, gid=gid,
                                  login_user=login_user, side=self.side,
                                  imap_port=self.imap_port, imaps_port=self.imaps_port))
        self.proc = subprocess.Popen([DOVECOT, "-F", "-c", self.config],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        up = wait_until(lambda: self.proc.poll() is not None or (
            listening(self.imaps_port) and listening(self.imap_port)), timeout=20)
        if not up or self.proc.poll() is not None:
            self.stop()
            raise RuntimeError("dovecot did not start: " + self.log())

    def log(self):
        try:
            with open(os.path.join(self.folder, "dovecot.log")) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.side != self.folder:
            shutil.rmtree(self.side, ignore_errors=True)

    def url(self, mailbox="", scheme="imaps", user=USER):
        port = self.imaps_port if scheme == "imaps" else self.imap_port
        return "%s://%s@127.0.0.1:%d/%s" % (scheme, user, port, mailbox)

    def client(self):
        context = ssl.create_default_context(cafile=self.ca[0])
        box = imaplib.IMAP4_SSL("127.0.0.1", self.imaps_port, ssl_context=context)
        box.login(USER, PASSWORD)
        return box


def _known_user(name):
    try:
        pwd.getpwnam(name)
        return True
    except KeyError:
        return False


def start_dovecot(folder):
    if not os.path.exists(DOVECOT):
        pytest.skip("dovecot is not installed (Debian package dovecot-imapd)")
    return Dovecot(folder)


def quoted(mailbox):
    return '"' + mailbox.replace("\\", "\\\\").replace('"', '\\"') + '"'


def append(box, mailbox, message, seen=False):
    """Stores `message` (bytes) in `mailbox` (an IMAP name, modified UTF-7)."""
    typ, _ = box.append(quoted(mailbox), "(\\Seen)" if seen else None, None,
                        message.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
    assert typ == "OK"


def flags_by_subject(box, mailbox):
    """{subject: flags text} of the messages in `mailbox`."""
    typ, _ = box.select(quoted(mailbox), readonly=True)
    assert typ == "OK"
    typ, data = box.uid("FETCH", "1:*", "(FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    out = {}
    for item in data:
        if not isinstance(item, tuple):
            continue
        subject = item[1].decode().strip().split(":", 1)[1].strip()
        out[subject] = item[0].decode()
    return out
