"""An OpenSSH server for SFTP tests: sshd started in the foreground on an
ephemeral loopback port with its own configuration, host key and authorized
key, made in a temporary folder; no system service or file is touched. The
SFTP session starts in `home` (internal-sftp -d), so relative remote names
land there whatever the test user's real home is."""
import os
import subprocess

from ftp_util import stop_process
from support import free_port, listening, wait_until

SSHD = "/usr/sbin/sshd"


def keygen(path, passphrase=""):
    """Makes an ed25519 key pair at path and path.pub; returns path."""
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", passphrase, "-C", "",
                    "-f", str(path)], check=True)
    return str(path)


class SshServer:
    """sshd on 127.0.0.1; use as a context manager. `authorized` lists the
    public key files allowed to log in."""

    def __init__(self, folder, home, authorized):
        self.folder = str(folder)
        self.home = str(home)
        self.host_key = keygen(os.path.join(self.folder, "host_key"))
        with open(os.path.join(self.folder, "authorized_keys"), "w") as out:
            for pub in authorized:
                out.write(open(pub).read())
        self.port = None
        self._proc = None

    def _config(self):
        path = os.path.join(self.folder, "sshd_config")
        with open(path, "w") as c:
            c.write("\n".join([
                "ListenAddress 127.0.0.1:%d" % self.port,
                "HostKey " + self.host_key,
                "AuthorizedKeysFile " + os.path.join(self.folder, "authorized_keys"),
                "PidFile none", "StrictModes no", "UsePAM no",
                "PasswordAuthentication no", "KbdInteractiveAuthentication no",
                "PermitRootLogin yes" if os.geteuid() == 0 else "",
                "Subsystem sftp internal-sftp -d " + self.home,
                "LogLevel ERROR", ""]))
        return path

    def __enter__(self):
        if os.geteuid() == 0:
            os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        for _ in range(5):  # another process may take the free port first
            self.port = free_port()
            self._proc = subprocess.Popen([SSHD, "-D", "-e", "-f", self._config()],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if self._wait_listening():
                return self
            self._stop()
        raise RuntimeError("sshd did not start")

    def _wait_listening(self):
        ended_or_up = wait_until(lambda: self._proc.poll() is not None or listening(self.port), 10)
        return ended_or_up and self._proc.poll() is None

    def _stop(self):
        stop_process(self._proc)
        self._proc.stderr.close()

    def __exit__(self, *exc):
        self._stop()

    def known_hosts_line(self):
        """The line ssh-keyscan would give for this server."""
        key = open(self.host_key + ".pub").read().split()[:2]
        return "[127.0.0.1]:%d %s %s\n" % (self.port, key[0], key[1])
